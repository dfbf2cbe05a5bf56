// Where a Feed with a state directory stands in each topic: the position the
// topic's records were first asked from (origin) and the last row handed to
// Python (packet sequence and row within the packet). A restart asks every
// topic from its origin again, so the library rebuilds the same merged
// records, and skips the rows up to the last one handed out: no gap and no
// repeat. The library's own connection file lives in <state>/api/.
#ifndef XELMD_PYTHON_FEED_STATE_H
#define XELMD_PYTHON_FEED_STATE_H

#include <map>
#include <string>

namespace PyXelmd {

class FeedState {
  public:
    struct Topic {
        long origin = -1;  // -1: not known yet (no packet seen)
        int sequence = 0;  // last packet handed out, 0: none
        int row = -1;      // its last row handed out
    };

    explicit FeedState(std::string dir);
    // Reads <dir>/feed.state and points the library's connection file at the
    // origins; false with error when a file cannot be read or written.
    bool load(std::string& error);
    // The library's flow path.
    std::string flow_path() const { return dir_ + "/api/"; }
    bool resumed(int topic) const { return topics_.count(topic) != 0; }
    // True when the row was handed out before the restart.
    bool seen(int topic, int sequence, int row) const;
    void first_packet(int topic, int sequence);
    void handed_out(int topic, int sequence, int row);
    // Writes <dir>/feed.state (temporary file, then rename).
    bool save(std::string& error) const;

  private:
    std::string dir_;
    std::map<int, Topic> topics_;
    std::map<int, Topic> resumed_;  // as loaded; what to skip
};

}  // namespace PyXelmd

#endif  // XELMD_PYTHON_FEED_STATE_H
