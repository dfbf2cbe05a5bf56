#ifndef XELMD_NETWORK_XELO_FLOW_READER_H
#define XELMD_NETWORK_XELO_FLOW_READER_H

#include "base/data_flow_iterator.h"
#include "base/data_flow_sender.h"
#include "base/data_reader.h"
#include "network/xelo_flow.h"

namespace Parallel {
class FlowRecycler;
}

namespace Network {

// An iterator that expands reference objects into one of two slots, so an
// expanded frame stays valid until the call after next. One reader thread.
class XeloFlow::Iterator : public Base::DataFlow::Iterator {
  public:
    static const int SLOT_SIZE = 4034;

    Iterator(Base::DataFlow* flow, Base::Notify* notify, ReadCallback* callback,
             unsigned long* cell);
    const Result* next() override;

  private:
    char buffer_[SLOT_SIZE + XeloPacket::MAX_PACKAGE_SIZE];
    int slot_;
    Result last_;
};

// Hands out decoded views of a flow's packets. One reader thread.
class XeloFlow::Reader {
  public:
    Reader(XeloFlow* flow, Base::Notify* notify, ReadCallback* callback,
           Parallel::FlowRecycler* recycler);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The next packet, or null when none is available.
    const View* read();
    Base::DataFlow::Iterator* get_iterator() { return &iterator_; }

  private:
    Parallel::FlowRecycler* recycler_;
    unsigned long* cell_;
    Iterator iterator_;
    XeloPacket::Header header_;
    View view_;
};

// A protocol reader over memory with the flow file (from the recycler) as
// fallback. One reader thread.
class XeloFlow::DataReader : public Base::DataReader {
  public:
    DataReader(XeloFlow* flow, Base::Notify* notify, ReadCallback* callback,
               Parallel::FlowRecycler* recycler, Base::Reportable* log);
    ~DataReader() override;

    // Exactly one packet, decoded, or null.
    const View* read();
    using Base::DataReader::read;

  protected:
    Base::DataFlow::FileReader* create_file_reader() override;

  private:
    DataReader(XeloFlow* flow, Base::Notify* notify, ReadCallback* callback,
               Parallel::FlowRecycler* recycler, unsigned long* cell, Base::Reportable* log);

    Parallel::FlowRecycler* recycler_;
    unsigned long* cell_;
    XeloPacket::Header header_;
    View view_;
};

// The channel-facing reading interface: packets with their protocol header
// first; versions as yyyymmdd. One reader thread.
class XeloFlow::Sender : public Base::DataFlow::Sender {
  public:
    Sender(XeloFlow* flow, Parallel::FlowRecycler* recycler);
    static Sender* create(XeloFlow* flow);

    unsigned long get_version() override;
    unsigned long get_count() override;
    unsigned long tell() override;
    bool available() override;
    bool seek(unsigned long pos) override;
    // The packet (its header) of the next object; length = content + 20.
    const char* read(unsigned short& length) override;

  protected:
    DataReader reader_;
};

// The channel-facing writing interface; the flow chain's writer thread.
class XeloFlow::Receiver : public Base::DataFlow::Receiver {
  public:
    explicit Receiver(XeloFlow* flow);

    unsigned long get_version() override;
    void set_version(unsigned long date) override;
    // data is a wire packet; its header's content_length governs.
    void write(const void* data, unsigned short length) override;

  private:
    Writer writer_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_FLOW_READER_H
