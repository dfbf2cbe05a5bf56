#ifndef XELMD_BASE_JSON_H
#define XELMD_BASE_JSON_H

#include <stdint.h>
#include <stdio.h>

#include "base/block_mem.h"
#include "base/queue.h"
#include "base/vector.h"

namespace Base {

// A JSON document: a sequence of top-level objects parsed from text or
// files, or built in place, and written back with tab indentation. Strings,
// nodes and containers live in the document and go with it. One thread.
//
// Numbers are decimal fixed point: an integer scaled by 10^n, n = 0..8
// (type NUMBER0 + n); digits beyond 8 decimals are dropped, and a number
// whose scaled integer leaves the int64 range is a parse error.
class Json {
  public:
    enum Type {
        NULL_VALUE = 0,
        BOOLEAN = 1,
        STRING = 2,
        ARRAY = 3,
        OBJECT = 4,
        NUMBER0 = 5,  // .. NUMBER0 + 8 = 13
    };
    static constexpr int MAX_DECIMALS = 8;
    // Nesting deeper than this is refused rather than risking the stack.
    static constexpr int MAX_DEPTH = 512;

    class Object;

    class Value {
      public:
        int get_type() const { return type_; }
        bool is_number() const { return type_ >= NUMBER0 && type_ <= NUMBER0 + MAX_DECIMALS; }
        bool get_bool() const { return type_ == BOOLEAN && boolean_; }
        // Null unless a string.
        const char* get_string() const { return type_ == STRING ? string_ : nullptr; }
        // Null unless an object.
        Object* get_object() const { return type_ == OBJECT ? object_ : nullptr; }
        // Array access; 0 and null for anything else.
        int get_size() const;
        Value* get_item(int index) const;

        // Appending to an array value; null when this is not an array.
        Value* push_null();
        Value* push_bool(bool value);
        Value* push_string(const char* value);
        Value* push_number(int64_t scaled, int decimals);
        Object* push_object();
        Value* push_array();

      private:
        friend class Json;
        Value* push();

        int type_;
        Json* json_;
        union {
            bool boolean_;
            int64_t number_;
            const char* string_;
            Vector* array_;  // of Value*
            Object* object_;
        };
    };

    class Property {
      public:
        const char* get_name() const { return name_; }
        Value* get_value() { return &value_; }
        const Value* get_value() const { return &value_; }

      private:
        friend class Json;
        const char* name_;
        Value value_;
    };

    class Object {
      public:
        // The first property of that name, or null.
        Property* get_property(const char* name) const;
        int get_size() const;
        Property* get_property(int index) const;

        // Appending properties (names are not checked for repeats).
        Value* add_null(const char* name);
        Value* add_bool(const char* name, bool value);
        Value* add_string(const char* name, const char* value);
        Value* add_number(const char* name, int64_t scaled, int decimals);
        Object* add_object(const char* name);
        Value* add_array(const char* name);

      private:
        friend class Json;
        Value* add(const char* name);
        // name already lives in the document.
        Value* attach(const char* name);

        Json* json_;
        Vector* properties_;  // of Property*
    };

    Json();
    ~Json();
    Json(const Json&) = delete;
    Json& operator=(const Json&) = delete;

    // Appends the top-level objects of the text (objects one after another,
    // or one array of objects). On a syntax error nothing is appended, false
    // is returned and get_error_offset() tells where.
    bool parse(const char* text, int length);
    // paths: one or more file names separated by ',' or ';'. A missing file
    // is skipped unless must_exist.
    bool parse(const char* paths, bool must_exist);
    bool parse_file(FILE* file);
    bool parse_file(const char* path);
    int get_error_offset() const { return error_offset_; }

    // The top-level objects in document order (Object* items).
    const Queue* get_objects() const { return &objects_; }
    int get_object_count() const { return objects_.get_count(); }
    // Walks the queue: for a few objects; iterate get_objects() otherwise.
    Object* get_object(int index) const;
    // Appends an empty top-level object.
    Object* add_object();

    // Writes every object, each followed by a newline, indented by indent
    // tabs. Returns the bytes written, or -1 on a stream error. The buffer
    // form writes a NUL after the text; with a null buffer it only measures.
    int output(FILE* file, int indent) const;
    int output(char* buffer, int indent) const;

    // The scaled integer of a number (decimals from its type), or false.
    static bool get_number(const Value* value, int64_t& scaled, int& decimals);
    // The value of a number as a double; 0 for anything else.
    static double get_float(const Value* value);
    // Fits a number of that scale into an int (decimals dropped); false when
    // not a number or out of range.
    static bool get_number(const Value* value, int& number);

  private:
    class Parser;
    class Writer;

    void* alloc(unsigned long size);
    const char* copy_string(const char* text, unsigned long length);
    Vector* new_vector();
    Object* new_object();
    void write_all(Writer& w, int indent) const;

    BlockMem arena_;
    Queue objects_;  // of Object*, in document order
    // Every vector made for the document, so the destructor can free them.
    Vector* vectors_;
    int error_offset_ = -1;
};

}  // namespace Base

#endif  // XELMD_BASE_JSON_H
