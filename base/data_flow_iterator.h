#ifndef XELMD_BASE_DATA_FLOW_ITERATOR_H
#define XELMD_BASE_DATA_FLOW_ITERATOR_H

#include "base/data_flow.h"

namespace Base {

// One reader's position in a flow chain. Owned by one thread at a time; the
// flow's writer may append concurrently. The reader cell, when given, is
// written here (atomically) and read by the flow's recycler.
class DataFlow::Iterator {
  public:
    struct Result {
        const char* data;
        unsigned short length;
    };
    static constexpr unsigned long DETACHED = ~0UL;

    Iterator(DataFlow* flow, Notify* notify, ReadCallback* callback, unsigned long* cell);
    virtual ~Iterator();
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;

    // The next committed object, or null when there is none yet.
    virtual const Result* next();

    void attach(DataFlow* flow);
    void detach();
    bool seek(unsigned long pos);
    // When the flow is exhausted and has a successor, moves onto it (freeing
    // an auto_free flow) and reports its version. True when it moved.
    bool follow_successor();

    unsigned long tell() const { return position_; }
    DataFlow* get_flow() const { return flow_; }
    unsigned long* get_cell() const { return cell_; }
    ReadCallback* get_callback() const { return callback_; }
    unsigned long get_recycle_pos() const;
    const Result* get_result() const { return result_.data != nullptr ? &result_ : nullptr; }

  protected:
    // Hands out the object at the position: callback, advance, result.
    const Result* deliver(const char* data, unsigned short length);

  private:
    // Positions the block and offset on the object at the current position;
    // false when its block cannot be reached.
    bool step_block();
    void raise_cell(unsigned long value);

    DataFlow* flow_;
    Notify* notify_;
    unsigned long position_;
    ReadCallback* callback_;
    unsigned long* cell_;
    DataMem::Block* block_;
    unsigned int offset_;
    Result result_;
    Consumer* consumer_;
    List::Node* node_;
};

}  // namespace Base

#endif  // XELMD_BASE_DATA_FLOW_ITERATOR_H
