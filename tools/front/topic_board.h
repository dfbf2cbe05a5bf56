#ifndef XELMD_TOOLS_FRONT_TOPIC_BOARD_H
#define XELMD_TOOLS_FRONT_TOPIC_BOARD_H

#include "network/xelo_flow.h"
#include "network/xelo_flow_reader.h"

namespace Parallel {
class FlowRecycler;
class Reactor;
}  // namespace Parallel

namespace Front {

// The front's topics: one protocol flow per topic, shared by every
// connection (each reads it through its own reader from the position the
// client asked for), with the one writer that fills it and, once recycling
// has started, the recycler that bounds the history it holds. The writer's
// thread (the front's reactor thread).
class TopicBoard {
  public:
    static const int MAX_TOPICS = 64;
    static const unsigned int DEFAULT_BLOCK = 10u << 20;

    explicit TopicBoard(unsigned int block = DEFAULT_BLOCK);
    ~TopicBoard();
    TopicBoard(const TopicBoard&) = delete;
    TopicBoard& operator=(const TopicBoard&) = delete;

    // Null when full, when the topic exists or when its id is one the
    // dialogue or the heartbeats use (0, 1, 4, 5, 65535).
    Network::XeloFlow* add(int topic);
    Network::XeloFlow* find(int topic) const;
    // -1 when the topic is not served.
    int index_of(int topic) const;
    int get_count() const { return count_; }
    int get_topic(int index) const { return topics_[index].id; }
    Network::XeloFlow* get_flow(int index) const { return topics_[index].flow; }
    Network::XeloFlow::Writer* get_writer(int index) const { return topics_[index].writer; }
    Parallel::FlowRecycler* get_recycler(int index) const { return topics_[index].recycler; }

    // Holds about keep packets of each topic behind its slowest reader and
    // reuses the memory further back (0: every packet is kept). The
    // recyclers are polled on the reactor; with a null one, recycle() runs
    // them. Topics added later get one too.
    void start_recycling(Parallel::Reactor* reactor, unsigned long keep);
    // Takes the recyclers off the reactor, which must still run. The
    // topics' readers must be gone before the board.
    void stop_recycling();
    // One pass of every recycler; true when memory was released.
    bool recycle();

    // The oldest position a reader opened now reads from memory: the flow's
    // start, or keep behind the lowest position the recycler last saw.
    unsigned long get_oldest(int index) const;
    // The position served for a request: -1 (from now) and positions past
    // the end give the end, positions before the oldest held the oldest.
    static unsigned long serve_from(const Network::XeloFlow* flow, long asked,
                                    unsigned long oldest = 0);
    // A connection's reader of the topic, at a position from serve_from
    // with get_oldest and no recycling since (the reactor thread); its cell
    // keeps the recycler behind it. Null when it cannot be placed there.
    Network::XeloFlow::DataReader* open_reader(int index, Base::Notify* notify,
                                               unsigned long from) const;
    static bool is_reserved(int topic);

  private:
    struct Topic {
        int id;
        Network::XeloFlow* flow;
        Network::XeloFlow::Writer* writer;
        Parallel::FlowRecycler* recycler;
    };
    void add_recycler(Topic& t);

    Topic topics_[MAX_TOPICS];
    int count_;
    unsigned int block_;
    Parallel::Reactor* reactor_;
    unsigned long keep_;
    bool recycling_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_TOPIC_BOARD_H
