#include "tools/front/topic_board.h"

#include "parallel/flow_recycler.h"

namespace Front {

TopicBoard::TopicBoard(unsigned int block)
    : count_(0), block_(block), reactor_(nullptr), keep_(0), recycling_(false) {}

TopicBoard::~TopicBoard() {
    for (int i = 0; i < count_; ++i) {
        delete topics_[i].recycler;
        delete topics_[i].writer;
        delete topics_[i].flow;
    }
}

bool TopicBoard::is_reserved(int topic) {
    return topic == 0 || topic == 1 || topic == 4 || topic == 5 || topic < 0 || topic >= 65535;
}

Network::XeloFlow* TopicBoard::add(int topic) {
    if (count_ == MAX_TOPICS || is_reserved(topic) || find(topic) != nullptr) return nullptr;
    Topic& t = topics_[count_++];
    t.id = topic;
    t.flow = new Network::XeloFlow(static_cast<unsigned short>(topic), block_, block_, nullptr,
                                   nullptr, 0, nullptr, false, false);
    t.writer = new Network::XeloFlow::Writer(t.flow, false);
    t.recycler = nullptr;
    if (recycling_) add_recycler(t);
    return t.flow;
}

int TopicBoard::index_of(int topic) const {
    for (int i = 0; i < count_; ++i)
        if (topics_[i].id == topic) return i;
    return -1;
}

Network::XeloFlow* TopicBoard::find(int topic) const {
    int i = index_of(topic);
    return i < 0 ? nullptr : topics_[i].flow;
}

void TopicBoard::add_recycler(Topic& t) {
    if (keep_ == 0) return;
    // No flow file: what is recycled is gone, and readers never look back
    // further than keep.
    t.recycler = new Parallel::FlowRecycler(reactor_, t.flow, keep_, nullptr, 0);
    t.recycler->start();
}

void TopicBoard::start_recycling(Parallel::Reactor* reactor, unsigned long keep) {
    if (recycling_) return;
    recycling_ = true;
    reactor_ = reactor;
    keep_ = keep;
    for (int i = 0; i < count_; ++i) add_recycler(topics_[i]);
}

void TopicBoard::stop_recycling() {
    for (int i = 0; i < count_; ++i)
        if (topics_[i].recycler != nullptr) topics_[i].recycler->stop();
}

bool TopicBoard::recycle() {
    bool released = false;
    for (int i = 0; i < count_; ++i)
        if (topics_[i].recycler != nullptr && topics_[i].recycler->on_invoke()) released = true;
    return released;
}

unsigned long TopicBoard::get_oldest(int index) const {
    const Topic& t = topics_[index];
    unsigned long start = t.flow->get_start_id();
    if (t.recycler == nullptr) return start;
    // A new reader's cell starts at the lowest position the recycler last
    // saw; it reads memory no further back than keep from there.
    unsigned long low = t.recycler->get_last_min();
    return low - start > keep_ ? low - keep_ : start;
}

unsigned long TopicBoard::serve_from(const Network::XeloFlow* flow, long asked,
                                     unsigned long oldest) {
    unsigned long end = flow->get_count();
    unsigned long start = flow->get_start_id();
    if (oldest > start) start = oldest < end ? oldest : end;
    if (asked < 0 || static_cast<unsigned long>(asked) > end) return end;
    return static_cast<unsigned long>(asked) < start ? start : static_cast<unsigned long>(asked);
}

Network::XeloFlow::DataReader* TopicBoard::open_reader(int index, Base::Notify* notify,
                                                       unsigned long from) const {
    const Topic& t = topics_[index];
    auto* reader = new Network::XeloFlow::DataReader(t.flow, notify, nullptr, t.recycler, nullptr);
    if (!reader->seek(from)) {
        delete reader;
        return nullptr;
    }
    return reader;
}

}  // namespace Front
