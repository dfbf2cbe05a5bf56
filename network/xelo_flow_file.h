#ifndef XELMD_NETWORK_XELO_FLOW_FILE_H
#define XELMD_NETWORK_XELO_FLOW_FILE_H

#include <stdio.h>

#include "base/data_flow_file.h"
#include "network/xelo_flow_reader.h"

namespace Network {

// Reads a protocol flow file back as stamped units: each record (a packet)
// gets its 6-byte prefix again. One thread.
class XeloFlow::FileReader : public Base::DataFlow::FileReader {
  public:
    FileReader(unsigned short subject, unsigned long start, const char* path, unsigned long step,
               Base::Vector* index);

  protected:
    int prepare_data(unsigned int length, unsigned int limit, unsigned int total) override;
    void adjust_data(char* record, unsigned int length) override;
};

// Saves a protocol flow's packets without their prefix; the file's version
// is the trading day's number and a new day restarts the file. The thread
// that calls invoke().
class XeloFlow::Saver : public XeloFlow::Sender {
  public:
    Saver(XeloFlow* flow, const char* dir, const char* name, bool keep_existing,
          Parallel::FlowRecycler* recycler);
    ~Saver() override;

    // 1 written, 0 nothing to write, -1 no file or a failed write.
    int invoke();
    bool is_open() const { return file_ != nullptr; }

  private:
    FILE* file_;
    long end_;  // where the next record goes
    void* version_;
    unsigned long step_;
    Base::Vector* index_;
};

// Restores a protocol flow from its file as stamped units, committed
// without waking consumers. The flow's writer thread.
class XeloFlow::Loader {
  public:
    Loader(XeloFlow* flow, const char* dir, const char* name, Parallel::FlowRecycler* recycler);
    ~Loader();
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    // 1 loaded, 0 at the end (a torn or impossible record is cut off).
    int invoke();
    const void* get_last() const { return last_; }
    XeloFlow* get_flow() const { return writer_.get_flow(); }
    void truncate();

  private:
    void finish(long offset);

    Writer writer_;
    FILE* file_;
    long offset_;  // of the next record
    unsigned long step_;
    Base::Vector* index_;
    const void* last_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_FLOW_FILE_H
