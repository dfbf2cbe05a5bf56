#ifndef XELMD_TOOLS_BRIDGE_SUBJECT_H
#define XELMD_TOOLS_BRIDGE_SUBJECT_H

#include <cstddef>
#include <string>

namespace Bridge {

// Subjects and message ids of the stream. Updates go to
// "<prefix>.<topic>.<instrument>", commit points to "<prefix>.commit.<topic>"
// (a topic is a number, so it never meets "commit"). Stateless; any thread.
class Subject {
  public:
    // Instrument id bytes other than [A-Za-z0-9_-] as "%HH" (upper-case hex),
    // so that '.', '*', '>', blanks and non-ASCII bytes never split or widen a
    // subject; an empty id is "%", which no mapped id can be.
    static std::string map_instrument(const char* id, size_t size);
    // Written into a string the caller reuses: no allocation per update.
    static void data(std::string& out, const std::string& prefix, int topic, const char* id,
                     size_t size);
    static std::string commit(const std::string& prefix, int topic);
    // "<topic>:<seq>:<index>": the same update always gets the same id, so the
    // server stores a repeated publish once.
    static void data_id(std::string& out, int topic, long seq, int index);
    static std::string commit_id(int topic, long seq);
};

}  // namespace Bridge

#endif  // XELMD_TOOLS_BRIDGE_SUBJECT_H
