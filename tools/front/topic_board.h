#ifndef XELMD_TOOLS_FRONT_TOPIC_BOARD_H
#define XELMD_TOOLS_FRONT_TOPIC_BOARD_H

#include "network/xelo_flow.h"

namespace Front {

// The front's topics: one protocol flow per topic, shared by every
// connection (each reads it through its own reader from the position the
// client asked for), with the one writer that fills it. The writer's thread
// (the front's reactor thread).
class TopicBoard {
  public:
    static const int MAX_TOPICS = 64;

    TopicBoard();
    ~TopicBoard();
    TopicBoard(const TopicBoard&) = delete;
    TopicBoard& operator=(const TopicBoard&) = delete;

    // Null when full, when the topic exists or when its id is one the
    // dialogue or the heartbeats use (0, 1, 4, 5, 65535).
    Network::XeloFlow* add(int topic);
    Network::XeloFlow* find(int topic) const;
    int get_count() const { return count_; }
    int get_topic(int index) const { return topics_[index].id; }
    Network::XeloFlow* get_flow(int index) const { return topics_[index].flow; }
    Network::XeloFlow::Writer* get_writer(int index) const { return topics_[index].writer; }
    // The position served for a request: -1 (from now) and positions past
    // the end give the end.
    static unsigned long serve_from(const Network::XeloFlow* flow, long asked);
    static bool is_reserved(int topic);

  private:
    struct Topic {
        int id;
        Network::XeloFlow* flow;
        Network::XeloFlow::Writer* writer;
    };
    Topic topics_[MAX_TOPICS];
    int count_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_TOPIC_BOARD_H
