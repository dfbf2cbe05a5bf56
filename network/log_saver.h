#ifndef XELMD_NETWORK_LOG_SAVER_H
#define XELMD_NETWORK_LOG_SAVER_H

#include <cstdio>

#include "base/data_flow_iterator.h"
#include "parallel/handler.h"

namespace Network {

// Copies traffic-log flows into files "<prefix>_<n>.slog" (n from 1), the
// records unchanged and back to back. Polled by whoever owns it (a reactor
// handler); one thread at a time, while the channels append to the flows.
class LogSaver : public Parallel::Handler {
  public:
    static const int MAX_RECORDS_PER_CALL = 100;
    static const int FILE_NAME_SIZE = 256;

    // Files are opened for appending; one that fails to open is skipped.
    LogSaver(const char* prefix, Base::DataFlow** flows, int count);
    ~LogSaver() override;
    LogSaver(const LogSaver&) = delete;
    LogSaver& operator=(const LogSaver&) = delete;

    // Up to 100 records of each flow, each flushed as written; true when any
    // record was taken.
    bool on_invoke() override;

    int get_count() const { return count_; }
    // Null when the file could not be opened.
    FILE* get_file(int i) const { return files_[i]; }

  private:
    int count_;
    Base::DataFlow::Iterator** iterators_;
    FILE** files_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_LOG_SAVER_H
