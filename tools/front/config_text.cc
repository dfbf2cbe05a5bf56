#include "tools/front/config_text.h"

#include <cstdio>

namespace Front {

bool ConfigText::read_file(const char* path, std::string& text, std::string& error) {
    FILE* file = fopen(path, "rbe");
    if (file == nullptr) {
        error = std::string("cannot read ") + path;
        return false;
    }
    text.clear();
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    bool ok = ferror(file) == 0;
    fclose(file);
    if (!ok) error = std::string("cannot read ") + path;
    return ok;
}

bool ConfigText::parse(Base::Json& json, const std::string& text, std::string& error) {
    if (json.parse(text.data(), static_cast<int>(text.size()))) return true;
    int offset = json.get_error_offset();
    int line = 1, column = 1;
    for (int i = 0; i < offset && i < static_cast<int>(text.size()); ++i) {
        if (text[static_cast<size_t>(i)] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    char where[64];
    snprintf(where, sizeof where, "JSON syntax error at line %d, column %d", line, column);
    error = where;
    return false;
}

const char* ConfigText::string_of(const Base::Json::Object* object, const char* name) {
    Base::Json::Property* p = object->get_property(name);
    return p == nullptr ? nullptr : p->get_value()->get_string();
}

}  // namespace Front
