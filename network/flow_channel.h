#ifndef XELMD_NETWORK_FLOW_CHANNEL_H
#define XELMD_NETWORK_FLOW_CHANNEL_H

#include "base/data_flow.h"
#include "network/channel.h"

namespace Base {
class DataReader;
class List;
}  // namespace Base

namespace Parallel {
class FlowRecycler;
}

namespace Network {

// A channel that carries flows: flows are published (read and sent) and
// subscribed (received into), each keyed by its 16-bit subject. Reactor
// thread only.
class FlowChannel : public Channel {
  public:
    // May change the frame in place and its length; false refuses the packet.
    typedef bool (*Filter)(Base::DataFlow* flow, char* frame, unsigned short& length);

    // A published flow and what reads it; the reader is owned by the item.
    struct PubItem {
        Base::DataFlow* flow;
        Base::DataFlow::AckCallback* ack;
        Base::DataFlow::ReadCallback* callback;
        Base::DataReader* reader;
        Parallel::FlowRecycler* recycler;
        unsigned int* counter;
    };
    // A subscribed flow. touched chains the items that received data during
    // one read() call, so each is notified once without a walk of them all.
    struct SubItem {
        Base::DataFlow* flow;
        Filter filter;
        unsigned long last_data_time;
        unsigned long limit;
        bool blocked;
        bool no_sequence_check;
        bool touched;
        SubItem* next_touched;
    };

    FlowChannel(Parallel::FdReactor* reactor, Parallel::Reporter* reporter)
        : Channel(reactor, reporter) {}

    virtual void publish(Base::DataFlow* flow, Base::DataFlow::AckCallback* ack,
                         Base::DataFlow::ReadCallback* callback, Base::DataReader* reader,
                         Parallel::FlowRecycler* recycler, unsigned int* counter) = 0;
    virtual void subscribe(Base::DataFlow* flow, Filter filter, unsigned long limit,
                           bool no_sequence_check) = 0;

    // Keys of subject maps are the subject itself, held in the key pointer.
    static void* subject_key(unsigned short subject) {
        return reinterpret_cast<void*>(static_cast<unsigned long>(subject));
    }
    static unsigned int subject_hash_func(const void* key);
    static bool subject_equal_func(const void* a, const void* b);

    // Buffer-blocking thresholds of a subscription with a non-zero limit:
    // blocking starts at 3 x limit objects not yet recycled and ends (closing
    // the channel) at 2 x limit or fewer.
    static bool starts_blocking(unsigned long count, unsigned long limit) {
        return count >= 3 * limit;
    }
    static bool ends_blocking(unsigned long count, unsigned long limit) {
        return count <= 2 * limit;
    }

  protected:
    // True as soon as one item with a flow and a reader has data to read.
    static bool available(Base::List* pub_items);
    // Blocks subscriptions whose flow holds too much unrecycled data and
    // unblocks them again; an unblocking closes the channel with -15 and
    // ends the check. Returns the close result, else 0.
    int check_sub_buffer(Base::List* sub_items);
    // Gathers whole objects from repeated reads into buffer, up to length
    // bytes; length becomes the bytes gathered. Null when nothing came.
    static char* prepare_reader_buffer(Base::DataReader* reader, unsigned short& length,
                                       char* buffer);
};

}  // namespace Network

#endif  // XELMD_NETWORK_FLOW_CHANNEL_H
