#ifndef XELMD_BASE_CSV_H
#define XELMD_BASE_CSV_H

#include <stdint.h>
#include <stdio.h>

#include "base/data_type.h"
#include "base/map.h"

namespace Base {

// A comma-separated table seen one line at a time: a header row naming the
// columns and one data row of text cells. Typed cells convert on set and
// get; a type with null handling writes its null value (its largest value)
// as an empty cell and reads an empty cell back as that value. One thread.
class Csv {
  public:
    // Longest header name plus its NUL.
    static constexpr int HEAD_SIZE = 64;

    // Cells hold at most field_size - 1 characters.
    Csv(bool quote, int field_size);
    ~Csv();
    Csv(const Csv&) = delete;
    Csv& operator=(const Csv&) = delete;

    void set_quote(bool quote) { quote_ = quote; }
    void enable_null(DataType type, bool enable);

    // Appends a column (and an empty cell); -1 when the data row is not as
    // wide as the header, or the name is longer than HEAD_SIZE - 1.
    int add_head(const char* name);
    int get_head_index(const char* name) const;
    const char* get_head(int index) const;
    int get_head_size() const { return head_count_; }
    int get_data_size() const { return cell_count_; }
    // Empties every cell of the data row.
    void clear_data();

    // Setters fail for an index beyond the row or a text longer than a cell.
    bool set_data(int index, char value);
    bool set_data(int index, const char* value);
    bool set_data(int index, int8_t value);
    bool set_data(int index, uint8_t value);
    bool set_data(int index, int16_t value);
    bool set_data(int index, uint16_t value);
    bool set_data(int index, int32_t value);
    bool set_data(int index, uint32_t value);
    bool set_data(int index, int64_t value);
    bool set_data(int index, uint64_t value);
    // With exact, '@' and the upper-case hex of the raw bytes follow the
    // decimal text so the value reads back bit for bit.
    bool set_data(int index, float value, bool exact = false);
    bool set_data(int index, double value, bool exact = false);
    // A fixed-point value (the decimal value times 10^n) of type
    // TYPE_FIXEDPOINT0 .. TYPE_FIXEDPOINT8.
    bool set_data(int index, int64_t value, DataType fixed_type);

    // Getters fail (value zeroed) for an index beyond the row or text that
    // does not convert: out of range, trailing characters, or an empty cell
    // of a type without null handling.
    bool get_data(int index, char& value) const;
    bool get_data(int index, const char*& value) const;
    bool get_data(int index, int8_t& value) const;
    bool get_data(int index, uint8_t& value) const;
    bool get_data(int index, int16_t& value) const;
    bool get_data(int index, uint16_t& value) const;
    bool get_data(int index, int32_t& value) const;
    bool get_data(int index, uint32_t& value) const;
    bool get_data(int index, int64_t& value) const;
    bool get_data(int index, uint64_t& value) const;
    bool get_data(int index, float& value) const;
    bool get_data(int index, double& value) const;
    bool get_data(int index, int64_t& value, DataType fixed_type) const;

    bool write_head(FILE* file) const;
    bool write_data(FILE* file) const;
    // Replace the header (and reset the data row to as many empty cells).
    // False at the end of the file or for an invalid line.
    bool read_head(FILE* file);
    bool read_head(const char* line);
    // Replace the data row with the cells of one line; the row takes the
    // line's width. False at the end of the file, for an invalid line or a
    // cell too long; the row is unchanged then.
    bool read_data(FILE* file);
    bool read_data(const char* line);

    // Splits line into at most max_fields fields, written NUL-terminated into
    // buffer (at least strlen(line) + 1 bytes) and pointed to from out.
    // Without quote the line is cut at every ','. With quote every field is
    // enclosed in '"' ("" inside stands for one '"'), blanks around fields
    // are skipped, and a blank line has no fields. Returns the field count,
    // or -1 for an invalid line or too many fields.
    static int split(const char* line, bool quote, char** out, int max_fields, char* buffer);

  private:
    char* cell(int index) const { return cells_ + static_cast<long>(index) * field_size_; }
    bool reserve(int columns);
    bool put_text(int index, const char* text);
    bool put_formatted(int index, const char* format, ...) __attribute__((format(printf, 3, 4)));
    bool put_float(int index, double value, const void* raw, int bytes, bool exact, bool is_float);
    // The cell text, or null past the row; *empty_null is set when the cell
    // is empty and the type reads it as null.
    const char* read_cell(int index, DataType type, bool* is_null) const;
    bool get_signed(int index, DataType type, int64_t low, int64_t high, int64_t& value) const;
    bool get_unsigned(int index, DataType type, uint64_t high, uint64_t& value) const;
    bool write_row(FILE* file, const char* base, int count, int stride) const;
    bool read_line(FILE* file);
    int split_line(const char* line);
    void index_head(int index);

    bool quote_;
    int field_size_;
    bool null_enabled_[TYPE_COUNT];
    int head_count_ = 0;
    int cell_count_ = 0;
    int capacity_ = 0;
    char (*heads_)[HEAD_SIZE] = nullptr;
    // Header name -> column index (the first column of a repeated name).
    Map head_index_;
    char* cells_ = nullptr;
    // Line reading and splitting scratch, grown as lines demand.
    char* line_ = nullptr;
    size_t line_capacity_ = 0;
    char* split_buffer_ = nullptr;
    char** fields_ = nullptr;
    size_t scratch_capacity_ = 0;
};

}  // namespace Base

#endif  // XELMD_BASE_CSV_H
