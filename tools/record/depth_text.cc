#include "tools/record/depth_text.h"

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/json.h"
#include "field/xelfield.h"

namespace Record {

const char* const DepthText::TOPIC_COLUMN = "Topic";
const char* const DepthText::SEQUENCE_COLUMN = "SequenceNo";

namespace {

// Wide enough for "%.15lf" of the largest finite double, which the
// descriptor's CSV writer produces before the exact text replaces it.
const int CELL_SIZE = 512;

void enable_nulls(Base::Csv& csv) {
    for (int t = 0; t < TYPE_COUNT; ++t) csv.enable_null(static_cast<DataType>(t), true);
}

struct PublicDepthDesc : Base::FieldDesc {
    PublicDepthDesc() : Base::FieldDesc(0, "CTarnXeloDepthMarketDataField") {
        const Base::FieldDesc& wire = Field::XelDepthMarketDataField::DESC;
        field_id = wire.field_id;
        for (int i = 0; i < wire.member_count; ++i) {
            const MemberDesc& m = wire.members[i];
            // The API hands fixed-point members to the application as doubles.
            DataType type = Base::is_fixed_point(m.type) ? TYPE_FLOAT64 : m.type;
            setup_member(type, m.size, m.element_size, m.count, m.offset, m.type_name, m.name,
                         m.is_key);
        }
        struct_size = wire.struct_size;
    }
};

// Whole decimal integer, nothing around it.
bool parse_int(const char* text, int& value) {
    if (text == nullptr || text[0] == '\0') return false;
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (*end != '\0' || v < -2147483648L || v > 2147483647L) return false;
    value = static_cast<int>(v);
    return true;
}

void append_json_string(const char* text, std::string& out) {
    out += '"';
    for (const char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

// A CSV cell without quoting cannot hold these; they become blanks.
void blank_separators(char* text) {
    for (char* p = text; *p; ++p)
        if (*p == ',' || *p == '\n' || *p == '\r') *p = ' ';
}

}  // namespace

const Base::FieldDesc& DepthText::descriptor() {
    static const PublicDepthDesc desc;
    return desc;
}

DepthText::DepthText() : csv_(false, CELL_SIZE), reader_(false, CELL_SIZE) {
    enable_nulls(csv_);
    enable_nulls(reader_);
    const Base::FieldDesc& desc = descriptor();
    for (int i = 0; i < desc.member_count; ++i) csv_.add_head(desc.members[i].name);
    csv_.add_head(TOPIC_COLUMN);
    csv_.add_head(SEQUENCE_COLUMN);
}

bool DepthText::exact_decimal(double value, char* text, int size) {
    for (int precision = 15; precision <= 17; ++precision) {
        int n = snprintf(text, static_cast<size_t>(size), "%.*g", precision, value);
        if (n <= 0 || n >= size) return false;
        double back = strtod(text, nullptr);
        if (memcmp(&back, &value, sizeof value) == 0) return true;
    }
    return false;
}

std::string DepthText::csv_head() const {
    std::string line;
    for (int i = 0; i < csv_.get_head_size(); ++i) {
        if (i > 0) line += ',';
        line += csv_.get_head(i);
    }
    line += '\n';
    return line;
}

bool DepthText::append(Format format, const DepthRow& row, std::string& out) {
    return format == Format::CSV ? append_csv(row, out) : append_json(row, out);
}

bool DepthText::append_csv(const DepthRow& row, std::string& out) {
    const Base::FieldDesc& desc = descriptor();
    csv_.clear_data();
    bool ok = desc.to_csv(&csv_, &row.depth, true);
    char text[64];
    for (int i = 0; i < desc.member_count; ++i) {
        const Base::FieldDesc::MemberDesc& m = desc.members[i];
        if (m.type != TYPE_FLOAT64) continue;
        double v;
        memcpy(&v, reinterpret_cast<const char*>(&row.depth) + m.offset, sizeof v);
        // Nulls stay empty; values no decimal carries keep the descriptor's
        // exact form (decimal, '@', raw bytes).
        if (v != DBL_MAX && exact_decimal(v, text, sizeof text) && !csv_.set_data(i, text))
            ok = false;
    }
    ok = csv_.set_data(desc.member_count, static_cast<int32_t>(row.topic)) && ok;
    ok = csv_.set_data(desc.member_count + 1, static_cast<int32_t>(row.sequence)) && ok;
    if (!ok) return false;
    for (int i = 0; i < csv_.get_data_size(); ++i) {
        const char* cell = nullptr;
        csv_.get_data(i, cell);
        if (i > 0) out += ',';
        char copy[CELL_SIZE];
        snprintf(copy, sizeof copy, "%s", cell ? cell : "");
        blank_separators(copy);
        out += copy;
    }
    out += '\n';
    return true;
}

bool DepthText::append_json(const DepthRow& row, std::string& out) const {
    const Base::FieldDesc& desc = descriptor();
    char text[CELL_SIZE];
    out += '{';
    for (int i = 0; i < desc.member_count; ++i) {
        const Base::FieldDesc::MemberDesc& m = desc.members[i];
        const char* value = reinterpret_cast<const char*>(&row.depth) + m.offset;
        double v = 0;
        if (m.type == TYPE_FLOAT64) memcpy(&v, value, sizeof v);
        bool exact = m.type == TYPE_FLOAT64 && v != DBL_MAX && exact_decimal(v, text, sizeof text);
        if (!exact) {
            char hex[40];
            int n = Base::FieldDesc::print_member(nullptr, m.type, value, false, m.size, false,
                                                  m.type == TYPE_FLOAT64 ? hex : nullptr);
            if (n < 0 || n >= static_cast<int>(sizeof text)) return false;
            Base::FieldDesc::print_member(text, m.type, value, false, m.size, false,
                                          m.type == TYPE_FLOAT64 ? hex : nullptr);
        }
        if (i > 0) out += ',';
        append_json_string(m.name, out);
        out += ':';
        append_json_string(text, out);
    }
    snprintf(text, sizeof text, ",\"%s\":\"%d\",\"%s\":\"%d\"}\n", TOPIC_COLUMN, row.topic,
             SEQUENCE_COLUMN, row.sequence);
    out += text;
    return true;
}

bool DepthText::read_csv_head(const char* line) {
    return reader_.read_head(line) && reader_.get_head_index(TOPIC_COLUMN) >= 0 &&
           reader_.get_head_index(SEQUENCE_COLUMN) >= 0;
}

bool DepthText::read_csv(const char* line, DepthRow& row) {
    if (!reader_.read_data(line) || reader_.get_data_size() != reader_.get_head_size())
        return false;
    memset(&row, 0, sizeof row);
    int32_t topic = 0, sequence = 0;
    bool ok = descriptor().from_csv(&reader_, &row.depth, nullptr);
    ok = reader_.get_data(reader_.get_head_index(TOPIC_COLUMN), topic) && ok;
    ok = reader_.get_data(reader_.get_head_index(SEQUENCE_COLUMN), sequence) && ok;
    row.topic = topic;
    row.sequence = sequence;
    return ok;
}

bool DepthText::read_json(const char* line, DepthRow& row) {
    Base::Json json;
    if (!json.parse(line, static_cast<int>(strlen(line))) || json.get_object_count() != 1)
        return false;
    const Base::Json::Object* object = json.get_object(0);
    const Base::FieldDesc& desc = descriptor();
    memset(&row, 0, sizeof row);
    bool topic = false, sequence = false;
    for (int i = 0; i < object->get_size(); ++i) {
        const Base::Json::Property* p = object->get_property(i);
        const char* text = p->get_value()->get_string();
        if (text == nullptr) return false;
        if (strcmp(p->get_name(), TOPIC_COLUMN) == 0) {
            topic = parse_int(text, row.topic);
            continue;
        }
        if (strcmp(p->get_name(), SEQUENCE_COLUMN) == 0) {
            sequence = parse_int(text, row.sequence);
            continue;
        }
        int index = desc.get_member_index(p->get_name());
        if (index < 0) return false;
        const Base::FieldDesc::MemberDesc& m = desc.members[index];
        Base::FieldDesc::fill_member(m.type, reinterpret_cast<char*>(&row.depth) + m.offset, text,
                                     m.element_size);
    }
    return topic && sequence;
}

}  // namespace Record
