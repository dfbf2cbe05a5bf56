#ifndef XELMD_TOOLS_FRONT_CONFIG_TEXT_H
#define XELMD_TOOLS_FRONT_CONFIG_TEXT_H

#include <string>

#include "base/json.h"

namespace Front {

// Shared by the JSON configuration readers: whole-file reads and messages
// that point at a line. Stateless.
class ConfigText {
  public:
    // The file's bytes, or false with "cannot read <path>" in error.
    static bool read_file(const char* path, std::string& text, std::string& error);
    // Parses text into json; on a syntax error says where ("line 3, column 7").
    static bool parse(Base::Json& json, const std::string& text, std::string& error);
    // A property of object that must be a string (null when absent).
    static const char* string_of(const Base::Json::Object* object, const char* name);
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_CONFIG_TEXT_H
