#ifndef XELMD_BASE_DATA_FLOW_FILE_H
#define XELMD_BASE_DATA_FLOW_FILE_H

#include <stdio.h>

#include "base/data_flow_iterator.h"
#include "base/flow_file.h"

namespace Base {

// Random-access reader of a flow file. One thread. Records are numbered from
// the flow's start; the optional index shortens seeks.
class DataFlow::FileReader {
  public:
    static constexpr unsigned int BUFFER_SIZE = 65536;

    FileReader(unsigned short subject, unsigned long start, const char* path, unsigned long step,
               Vector* index);
    virtual ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool seek(unsigned long pos);
    // length carries in the byte limit (0: one record) and out what was
    // delivered; whole records only. Null when nothing was delivered.
    const char* read(unsigned short& length);
    unsigned long tell() const { return position_; }
    bool is_open() const { return file_ != nullptr; }
    unsigned short get_file_version() const { return version_; }

  protected:
    virtual bool read_version();
    virtual bool read_data_len(unsigned int& length);
    // Bytes written in front of a record of that length at buffer + total
    // (the base writes none), or -1 when the record is refused.
    virtual int prepare_data(unsigned int length, unsigned int limit, unsigned int total);
    virtual void adjust_data(char* record, unsigned int length);

    unsigned short subject_;
    unsigned long position_;
    char* buffer_;

  private:
    bool skip_to(unsigned long pos);

    unsigned long start_;
    // File offset of the next record; kept here to spare a system call per
    // record.
    long offset_;
    bool positioned_;
    unsigned short version_;
    FILE* file_;
    unsigned long step_;
    Vector* index_;
};

// Writes a flow's objects to its flow file, one record per invoke(). The
// thread that calls invoke(); the flow's writer may run concurrently.
class DataFlow::Saver {
  public:
    Saver(DataFlow* flow, const char* dir, const char* name, bool keep_existing,
          unsigned long* cell, unsigned long step, Vector* index);
    ~Saver();
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    // 1 written, 0 nothing to write, -1 no file or a failed write.
    int invoke();
    bool is_open() const { return file_ != nullptr; }

  private:
    Iterator iterator_;
    void* version_;
    FILE* file_;
    long end_;  // where the next record goes
    unsigned long step_;
    Vector* index_;
};

// Restores a flow from its flow file, one record per invoke(); the writer
// thread of the flow.
class DataFlow::Loader {
  public:
    Loader(DataFlow* flow, const char* dir, const char* name, unsigned long step, Vector* index);
    ~Loader();
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    // 1 loaded, 0 at the end (a torn last record is cut off the file).
    int invoke();
    const void* get_last() const { return last_; }
    // The flow now loaded into (a successor when the file was newer).
    DataFlow* get_flow() const { return flow_; }
    void truncate();
    bool is_open() const { return file_ != nullptr; }

  private:
    void finish(long offset);

    DataFlow* flow_;
    FILE* file_;
    long offset_;  // of the next record
    unsigned long step_;
    Vector* index_;
    const void* last_;
};

}  // namespace Base

#endif  // XELMD_BASE_DATA_FLOW_FILE_H
