#ifndef XELMD_TOOLS_FRONT_TERMINAL_CHECK_H
#define XELMD_TOOLS_FRONT_TERMINAL_CHECK_H

#include <string>

namespace Cipher {
class Rsa;
}

namespace Front {

// Opens the terminal information of a login with the front's RSA private
// key: Base64 of "#<length>", a zero byte and an RSA-OAEP ciphertext of
// "<challenge><mode character>". One thread.
class TerminalCheck {
  public:
    TerminalCheck();
    ~TerminalCheck();
    TerminalCheck(const TerminalCheck&) = delete;
    TerminalCheck& operator=(const TerminalCheck&) = delete;

    bool load(const char* pem_path, std::string& error);
    bool is_loaded() const { return rsa_ != nullptr; }
    // True when text opens to the challenge the front sent; otherwise false
    // with what was wrong in detail.
    bool check(const char* text, int challenge, std::string& detail) const;

  private:
    Cipher::Rsa* rsa_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_TERMINAL_CHECK_H
