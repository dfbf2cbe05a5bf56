#ifndef XELMD_BASE_DATA_FLOW_SENDER_H
#define XELMD_BASE_DATA_FLOW_SENDER_H

#include "base/data_flow_iterator.h"

namespace Base {

// The reading interface channels use. One reader thread. The base form wraps
// one Iterator without notify, callback or cell; derived forms bring their own
// reader and pass a null flow.
class DataFlow::Sender {
  public:
    explicit Sender(DataFlow* flow);
    static Sender* create(DataFlow* flow);
    virtual ~Sender();
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // The current flow's version word.
    virtual unsigned long get_version();
    virtual unsigned long get_count();
    virtual unsigned long tell();
    virtual bool available();
    virtual bool seek(unsigned long pos);
    // The next object's data with its length, or null.
    virtual const char* read(unsigned short& length);

  private:
    Iterator* iterator_;
};

// The writing interface channels use: the writer thread of the flow chain.
class DataFlow::Receiver {
  public:
    explicit Receiver(DataFlow* flow);
    virtual ~Receiver() = default;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    virtual unsigned long get_version();
    virtual unsigned long get_count();
    // Continues on the flow of that version (a successor when it differs).
    virtual void set_version(unsigned long version);
    // Stores a copy and commits it without waking consumers.
    virtual void write(const void* data, unsigned short length);
    virtual void notify();

  protected:
    DataFlow* flow_;
};

// Computes how far a flow's memory may be released behind its slowest
// reader. Cells are listed and invoke() runs on one thread (the recycler's);
// readers write their own cell's value from other threads.
class DataFlow::Recycler {
  public:
    Recycler(DataFlow* flow, unsigned long keep);
    ~Recycler();
    Recycler(const Recycler&) = delete;
    Recycler& operator=(const Recycler&) = delete;

    // A new cell holding the last computed lowest position.
    unsigned long* alloc_reader();
    void free_reader(const unsigned long* cell);
    // True when at least one block was released.
    bool invoke();

    unsigned long get_keep() const { return keep_; }
    unsigned long get_last_min() const { return last_min_; }

  private:
    DataFlow* flow_;
    unsigned long keep_;
    unsigned long last_min_;
    List cells_;
};

}  // namespace Base

#endif  // XELMD_BASE_DATA_FLOW_SENDER_H
