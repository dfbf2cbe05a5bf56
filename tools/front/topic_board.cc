#include "tools/front/topic_board.h"

namespace Front {

namespace {
const unsigned int BLOCK = 10u << 20;
}

TopicBoard::TopicBoard() : count_(0) {}

TopicBoard::~TopicBoard() {
    for (int i = 0; i < count_; ++i) {
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
    t.flow = new Network::XeloFlow(static_cast<unsigned short>(topic), BLOCK, BLOCK, nullptr,
                                   nullptr, 0, nullptr, false, false);
    t.writer = new Network::XeloFlow::Writer(t.flow, false);
    return t.flow;
}

Network::XeloFlow* TopicBoard::find(int topic) const {
    for (int i = 0; i < count_; ++i)
        if (topics_[i].id == topic) return topics_[i].flow;
    return nullptr;
}

unsigned long TopicBoard::serve_from(const Network::XeloFlow* flow, long asked) {
    unsigned long end = flow->get_count();
    unsigned long start = flow->get_start_id();
    if (asked < 0 || static_cast<unsigned long>(asked) > end) return end;
    return static_cast<unsigned long>(asked) < start ? start : static_cast<unsigned long>(asked);
}

}  // namespace Front
