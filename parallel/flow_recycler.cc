#include "parallel/flow_recycler.h"

#include <cstdio>

#include "base/sign.h"
#include "base/vector.h"

namespace Parallel {

namespace {
// 64-bit file offsets, 1024 to a vector block.
const int INDEX_ELEMENT = 8;
const int INDEX_BLOCK = 1024;
}  // namespace

FlowRecycler::FlowRecycler(Reactor* reactor, Base::DataFlow* flow, unsigned long keep,
                           const char* path, unsigned long step)
    : reactor_(reactor),
      keep_(keep),
      path_{},
      step_(step),
      index_(step != 0 ? new Base::Vector(INDEX_ELEMENT, INDEX_BLOCK, 1, nullptr) : nullptr),
      recycler_(flow, keep) {
    if (path != nullptr) snprintf(path_, sizeof path_, "%s", path);
}

FlowRecycler::~FlowRecycler() {
    delete index_;
}

void FlowRecycler::start() {
    if (reactor_ != nullptr) reactor_->add_handler(this);
}

void FlowRecycler::stop() {
    if (reactor_ != nullptr) reactor_->remove_handler(this);
}

bool FlowRecycler::on_invoke() {
    return recycler_.invoke();
}

int FlowRecycler::on_event(int event, void* data) {
    switch (event) {
        case EVENT_ALLOC_READER:
            *static_cast<unsigned long**>(data) = recycler_.alloc_reader();
            return 0;
        case EVENT_FREE_READER:
            recycler_.free_reader(static_cast<const unsigned long*>(data));
            return 0;
        default:
            return -1;
    }
}

void FlowRecycler::call(int event, void* data) {
    if (reactor_ == nullptr) {
        on_event(event, data);
        return;
    }
    Base::Sign done(0);
    // Not queued: on the reactor thread itself the event runs at once.
    reactor_->add_event(event, data, &done, this, false);
    done.join();
}

unsigned long* FlowRecycler::alloc_reader() {
    unsigned long* cell = nullptr;
    call(EVENT_ALLOC_READER, &cell);
    return cell;
}

void FlowRecycler::free_reader(const unsigned long* cell) {
    if (cell != nullptr) call(EVENT_FREE_READER, const_cast<unsigned long*>(cell));
}

}  // namespace Parallel
