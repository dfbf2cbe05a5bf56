#ifndef XELMD_PARALLEL_FLOW_RECYCLER_H
#define XELMD_PARALLEL_FLOW_RECYCLER_H

#include "base/data_flow_sender.h"
#include "base/flow_file.h"
#include "parallel/reactor.h"

namespace Base {
class Vector;
}

namespace Parallel {

// Releases a flow's memory behind its slowest reader on a reactor thread and
// carries what readers need to fall back to the flow file. Cells are listed
// and memory released on the reactor thread (the caller's without one);
// alloc_reader/free_reader may be called from any thread and wait for it.
class FlowRecycler : public Handler {
  public:
    static const int EVENT_ALLOC_READER = 1001;
    static const int EVENT_FREE_READER = 1002;

    FlowRecycler(Reactor* reactor, Base::DataFlow* flow, unsigned long keep, const char* path,
                 unsigned long step);
    ~FlowRecycler() override;

    void start();
    void stop();
    bool on_invoke() override;
    int on_event(int event, void* data) override;

    unsigned long* alloc_reader();
    void free_reader(const unsigned long* cell);

    unsigned long get_keep() const { return keep_; }
    const char* get_path() const { return path_; }
    unsigned long get_step() const { return step_; }
    // Where a reader allocated now would start: the lowest cell the last
    // pass saw. The reactor's thread.
    unsigned long get_last_min() const { return recycler_.get_last_min(); }
    Base::Vector* get_index() const { return index_; }

  private:
    // Runs the event on the reactor thread and waits, or runs it here.
    void call(int event, void* data);

    Reactor* reactor_;
    unsigned long keep_;
    char path_[Base::FlowFile::PATH_SIZE];
    unsigned long step_;
    Base::Vector* index_;
    Base::DataFlow::Recycler recycler_;
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_FLOW_RECYCLER_H
