#ifndef XELMD_BASE_DATA_READER_H
#define XELMD_BASE_DATA_READER_H

#include "base/data_flow_file.h"
#include "base/data_flow_iterator.h"

namespace Base {

class Reportable;

// Reader of a flow over memory that falls back to the flow file for
// positions whose memory may have been recycled. One reader thread.
class DataReader {
  public:
    DataReader(DataFlow* flow, Notify* notify, DataFlow::ReadCallback* callback,
               unsigned long* cell, unsigned long keep, const char* path, unsigned long step,
               Vector* index, Reportable* log);
    virtual ~DataReader();
    DataReader(const DataReader&) = delete;
    DataReader& operator=(const DataReader&) = delete;

    bool seek(unsigned long pos);
    // length carries in the byte limit (0: exactly one object) and out what
    // was delivered: whole objects lying back to back in one block.
    const char* read(unsigned short& length);
    bool available();
    unsigned long tell() const;
    void reset();

    DataFlow* get_flow() const { return iterator_->get_flow(); }
    DataFlow::Iterator* get_iterator() const { return iterator_; }
    bool is_reading_file() const { return file_reader_ != nullptr; }

  protected:
    // For derived readers that bring their own kind of iterator (owned).
    DataReader(DataFlow::Iterator* iterator, unsigned long keep, const char* path,
               unsigned long step, Vector* index, Reportable* log);
    virtual DataFlow::FileReader* create_file_reader();

    const char* get_path() const { return path_; }
    unsigned long get_step() const { return step_; }
    Vector* get_index() const { return index_; }

  private:
    const char* read_memory(unsigned short& length);
    void report(bool create, unsigned long pos, unsigned long recycle_pos);

    DataFlow::Iterator* iterator_;
    unsigned long keep_;
    char path_[FlowFile::PATH_SIZE];
    unsigned long step_;
    Vector* index_;
    DataFlow::FileReader* file_reader_;
    DataFlow::Iterator::Result pending_;
    bool has_pending_;
    Reportable* log_;
};

}  // namespace Base

#endif  // XELMD_BASE_DATA_READER_H
