#include "network/flow_channel.h"

#include <cstring>

#include "base/data_reader.h"
#include "base/list.h"
#include "parallel/reporter.h"

namespace Network {

unsigned int FlowChannel::subject_hash_func(const void* key) {
    return static_cast<unsigned int>(reinterpret_cast<unsigned long>(key) & 0xffff);
}

bool FlowChannel::subject_equal_func(const void* a, const void* b) {
    return ((reinterpret_cast<unsigned long>(a) ^ reinterpret_cast<unsigned long>(b)) & 0xffff) ==
           0;
}

bool FlowChannel::available(Base::List* pub_items) {
    for (Base::List::Node* n = pub_items->get_first(); n != nullptr; n = n->next) {
        PubItem* item = static_cast<PubItem*>(n->data);
        if (item->flow != nullptr && item->reader != nullptr && item->reader->available())
            return true;
    }
    return false;
}

int FlowChannel::check_sub_buffer(Base::List* sub_items) {
    Parallel::Reporter* reporter = get_reporter();
    for (Base::List::Node* n = sub_items->get_first(); n != nullptr; n = n->next) {
        SubItem* item = static_cast<SubItem*>(n->data);
        if (item->flow == nullptr || item->limit == 0) continue;
        unsigned long count = 0;
        item->flow->get_buffer_count(count);
        const unsigned int subject = item->flow->get_subject();
        if (!item->blocked && starts_blocking(count, item->limit)) {
            item->blocked = true;
            if (reporter != nullptr)
                reporter->report(5, "FlowBufferBlocking",
                                 "buffer blocking -> ON! flow_subject=[0x%04x] buffer_count=[%zu]",
                                 subject, static_cast<size_t>(count));
        } else if (item->blocked && ends_blocking(count, item->limit)) {
            item->blocked = false;
            if (reporter != nullptr)
                reporter->report(5, "FlowBufferBlocking",
                                 "buffer blocking -> OFF! flow_subject=[0x%04x] buffer_count=[%zu]",
                                 subject, static_cast<size_t>(count));
            // Packets were dropped while blocked: the flow has a gap that only
            // a new connection (resuming from the flow's count) can fill.
            return close(-15);
        }
    }
    return 0;
}

char* FlowChannel::prepare_reader_buffer(Base::DataReader* reader, unsigned short& length,
                                         char* buffer) {
    const unsigned int limit = length;
    unsigned int gathered = 0;
    // A read with 0 would mean "one object, whatever its size": stop first.
    while (gathered < limit) {
        unsigned short n = static_cast<unsigned short>(limit - gathered);
        const char* data = reader->read(n);
        if (data == nullptr || n == 0) break;
        memcpy(buffer + gathered, data, n);
        gathered += n;
    }
    length = static_cast<unsigned short>(gathered);
    return gathered > 0 ? buffer : nullptr;
}

}  // namespace Network
