// Arbitrary bytes as the front's users file: it is read whole or refused
// with a message, and a table read whole accepts each listed user with the
// password listed and the new one after a change.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/json.h"
#include "tools/front/config_text.h"
#include "tools/front/user_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size), error;
    Front::UserTable users;
    if (!users.parse(text, error)) {
        if (error.empty()) abort();
        return 0;
    }
    // The users as listed, each read once: the first listing of a name.
    Base::Json json;
    if (!Front::ConfigText::parse(json, text, error)) abort();
    const Base::Json::Value* list = json.get_object(0)->get_property("users")->get_value();
    for (int i = 0; i < list->get_size(); ++i) {
        const Base::Json::Object* o = list->get_item(i)->get_object();
        const char* user = Front::ConfigText::string_of(o, "user");
        const char* password = Front::ConfigText::string_of(o, "password");
        std::string participant;
        if (users.check(user, password, &participant) != 0 ||
            users.change_password(user, password, "changed") != 0 ||
            users.check(user, "changed", nullptr) != 0 ||
            (std::string(password) != "changed" && users.check(user, password, nullptr) == 0))
            abort();
    }
    if (users.check("", "", nullptr) != Front::UserTable::UNKNOWN_USER) abort();
    return 0;
}
