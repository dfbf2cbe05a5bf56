#ifndef XELMD_TOOLS_FRONT_SCENARIO_H
#define XELMD_TOOLS_FRONT_SCENARIO_H

#include <string>
#include <vector>

namespace Front {

// Scripted faults read from a JSON file:
//   {"faults": [{"action": "drop", "after": 2.5, "connection": 1}, ...]}
// action: drop | stall | bad_sequence | oversized_frame | garbage | key_error
// (a key the client cannot use) | key_refused (an error record instead of a key).
// after: seconds after the login was answered (key_error acts at the key
// and key_refused act at the key exchange and take none); connection: the accepted connection it
// hits, counted from 1 (default 1; 0 hits every one); seconds: how long a stall lasts (default 0 =
// until the client gives up); bytes: garbage length (default 64). One thread.
class Scenario {
  public:
    enum Action { DROP, STALL, BAD_SEQUENCE, OVERSIZED_FRAME, GARBAGE, KEY_ERROR, KEY_REFUSED };

    struct Fault {
        Action action;
        unsigned long after_ms;
        int connection;
        unsigned long seconds;
        int bytes;
    };

    // False with a message naming the file, the fault and the member.
    bool load(const char* path, std::string& error);
    bool parse(const std::string& text, std::string& error);

    const std::vector<Fault>& get_faults() const { return faults_; }
    // The faults for the n-th accepted connection (1-based).
    std::vector<Fault> for_connection(int n) const;

    static const char* get_name(Action action);

  private:
    std::vector<Fault> faults_;
};

// True once a fault's time has come for a login answered at login_ms.
inline bool fault_due(const Scenario::Fault& fault, unsigned long login_ms, unsigned long now_ms) {
    return now_ms >= login_ms && now_ms - login_ms >= fault.after_ms;
}

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_SCENARIO_H
