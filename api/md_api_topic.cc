// Topic announcements, the market-data cache and the topic flows' life.
#include <cstdio>

#include "api/md_api.h"
#include "base/map.h"
#include "field/xelfield.h"

namespace Api {

namespace {

const unsigned short FID_DISSEMINATION = 0x0001;
const unsigned int TOPIC_BLOCK_SIZE = 10u << 20;
const unsigned int CACHE_BUCKETS = 1u << 20;
const int CACHE_NODES_PER_BLOCK = 4096;

}  // namespace

void MdApi::create_market_data_cache() {
    md_cache_ = new Base::Map(&hash_topic_instrument, &equal_topic_instrument, CACHE_BUCKETS,
                              sizeof(TopicInstrumentKey), sizeof(CTarnXeloDepthMarketDataField),
                              CACHE_NODES_PER_BLOCK, 0, nullptr);
}

void MdApi::destroy_market_data_cache() {
    delete md_cache_;
    md_cache_ = nullptr;
}

Network::XeloFlow* MdApi::create_topic_flow(int topic, unsigned long start) {
    return new Network::XeloFlow(static_cast<unsigned short>(topic), TOPIC_BLOCK_SIZE,
                                 TOPIC_BLOCK_SIZE, nullptr, this, start, nullptr, false, false);
}

void MdApi::recycle_overflow_flows() {
    for (int i = 0; i < overflow_count_; ++i) overflow_flows_[i]->recycle(~0UL);
}

void MdApi::destroy_overflow_flows() {
    for (int i = 0; i < overflow_count_; ++i) {
        delete overflow_flows_[i];
        overflow_flows_[i] = nullptr;
    }
    overflow_count_ = 0;
}

Network::XeloFlow* MdApi::find_overflow_flow(int topic) {
    for (int i = 0; i < overflow_count_; ++i)
        if (overflow_flows_[i]->get_subject() == static_cast<unsigned short>(topic))
            return overflow_flows_[i];
    return nullptr;
}

void MdApi::on_intl_rtn_dissemination() {
    while (packet_iterator_.get_position() < packet_header_.content_length) {
        if (packet_iterator_.next() != FID_DISSEMINATION) return;
        Field::XelDisseminationField* d =
            reinterpret_cast<Field::XelDisseminationField*>(decode_[0]);
        packet_iterator_.get_field(d, &Field::XelDisseminationField::from_stream, true);
        on_dissemination(d->SequenceSeries, d->SequenceNo);
    }
}

// A topic the table cannot hold still gets a flow of its own, outside the
// table: without one its packets would close the connection at every
// reconnection. Such a topic is neither asked at login nor saved.
void MdApi::on_dissemination(int topic, int sequence_no) {
    Network::XeloFlow* flow = nullptr;
    if (TopicEntry* entry = get_market_data_subject(topic)) {
        flow = entry->flow;  // subscribed before Init: only repositioned
    } else if (append_announced_topic(topic)) {
        flow = create_topic_flow(topic, 0);
        topics_[topic_count_ - 1].flow = flow;
    } else if (!(flow = find_overflow_flow(topic))) {
        if (overflow_count_ >= MAX_OVERFLOW_TOPICS) {
            fprintf(stderr, "ERR! topic %d ignored: %d topics held\n", topic,
                    MAX_TOPICS + MAX_OVERFLOW_TOPICS);
            fflush(stderr);
            return;
        }
        flow = create_topic_flow(topic, 0);
        overflow_flows_[overflow_count_++] = flow;
    }
    if (!flow) return;
    // Positions are 32-bit on the wire and in the connection file.
    flow->clear(static_cast<unsigned int>(sequence_no));
    subscribe_topic_flow(flow);
}

bool MdApi::append_announced_topic(int topic) {
    Base::MutexGuard guard(lock_);
    if (topic_count_ >= MAX_TOPICS) return false;
    topics_[topic_count_] = TopicEntry{topic, TE_RESUME_FROM_NOW, false, nullptr};
    ++topic_count_;
    return true;
}

}  // namespace Api
