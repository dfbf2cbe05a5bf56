#ifndef XELMD_TOOLS_FRONT_USER_TABLE_H
#define XELMD_TOOLS_FRONT_USER_TABLE_H

#include <string>
#include <vector>

namespace Front {

// The users a front accepts, read from a JSON file:
//   {"users": [{"user": "demo", "password": "demo", "participant": "P01"}]}
// Without a file every user is accepted with any password (an open front).
// Password changes live in memory only. One thread.
class UserTable {
  public:
    // Error ids the front answers with; 0 is success.
    static constexpr int UNKNOWN_USER = 2;
    static constexpr int WRONG_PASSWORD = 3;
    static constexpr int NOT_LOGGED_IN = 4;
    static constexpr int USER_MISMATCH = 5;

    bool load(const char* path, std::string& error);
    bool parse(const std::string& text, std::string& error);
    bool is_open() const { return !loaded_; }
    // 0, UNKNOWN_USER or WRONG_PASSWORD; the participant of a known user.
    int check(const char* user, const char* password, std::string* participant) const;
    // check() on the old password, then the new one is kept.
    int change_password(const char* user, const char* old_password, const char* new_password);

    static const char* get_message(int error_id);

  private:
    struct User {
        std::string user, password, participant;
    };
    const User* find(const char* user) const;

    bool loaded_ = false;
    std::vector<User> users_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_USER_TABLE_H
