#include "tools/front/user_table.h"

#include <cstring>

#include "base/json.h"
#include "tools/front/config_text.h"

namespace Front {

bool UserTable::load(const char* path, std::string& error) {
    std::string text;
    if (!ConfigText::read_file(path, text, error)) return false;
    if (parse(text, error)) return true;
    error = std::string(path) + ": " + error;
    return false;
}

bool UserTable::parse(const std::string& text, std::string& error) {
    users_.clear();
    Base::Json json;
    if (!ConfigText::parse(json, text, error)) return false;
    Base::Json::Property* p =
        json.get_object_count() == 1 ? json.get_object(0)->get_property("users") : nullptr;
    if (p == nullptr || p->get_value()->get_type() != Base::Json::ARRAY) {
        error = "expected {\"users\": [...]}";
        return false;
    }
    const Base::Json::Value* list = p->get_value();
    for (int i = 0; i < list->get_size(); ++i) {
        const Base::Json::Object* o = list->get_item(i)->get_object();
        const char* user = o ? ConfigText::string_of(o, "user") : nullptr;
        const char* password = o ? ConfigText::string_of(o, "password") : nullptr;
        const char* participant = o ? ConfigText::string_of(o, "participant") : nullptr;
        std::string where = "user " + std::to_string(i + 1) + ": ";
        if (user == nullptr || password == nullptr) {
            error = where + "needs \"user\" and \"password\" as strings";
        } else if (*user == 0 || strlen(user) > 15) {
            error = where + "\"user\" must have 1 to 15 characters";
        } else if (strlen(password) > 40) {
            error = where + "\"password\" must have at most 40 characters";
        } else if (participant != nullptr && strlen(participant) > 10) {
            error = where + "\"participant\" must have at most 10 characters";
        } else if (find(user) != nullptr) {
            error = where + "\"" + user + "\" is listed twice";
        } else {
            users_.push_back({user, password, participant ? participant : ""});
            continue;
        }
        users_.clear();
        return false;
    }
    loaded_ = true;
    return true;
}

const UserTable::User* UserTable::find(const char* user) const {
    for (const User& u : users_)
        if (u.user == user) return &u;
    return nullptr;
}

int UserTable::check(const char* user, const char* password, std::string* participant) const {
    if (!loaded_) return 0;
    const User* u = find(user);
    if (u == nullptr) return UNKNOWN_USER;
    if (u->password != password) return WRONG_PASSWORD;
    if (participant != nullptr) *participant = u->participant;
    return 0;
}

int UserTable::change_password(const char* user, const char* old_password,
                               const char* new_password) {
    int rc = check(user, old_password, nullptr);
    if (rc != 0 || !loaded_) return rc;
    for (User& u : users_)
        if (u.user == user) u.password = new_password;
    return 0;
}

const char* UserTable::get_message(int error_id) {
    switch (error_id) {
        case 0:
            return "OK";
        case UNKNOWN_USER:
            return "unknown user";
        case WRONG_PASSWORD:
            return "wrong password";
        case NOT_LOGGED_IN:
            return "not logged in";
        case USER_MISMATCH:
            return "user or participant differs from the login";
        default:
            return "error";
    }
}

}  // namespace Front
