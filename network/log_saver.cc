#include "network/log_saver.h"

#include <new>

namespace Network {

LogSaver::LogSaver(const char* prefix, Base::DataFlow** flows, int count)
    : count_(count > 0 ? count : 0), iterators_(nullptr), files_(nullptr) {
    if (count_ == 0) return;
    iterators_ = new (std::nothrow) Base::DataFlow::Iterator*[count_];
    files_ = new (std::nothrow) FILE*[count_];
    if (iterators_ == nullptr || files_ == nullptr) {
        delete[] iterators_;
        delete[] files_;
        iterators_ = nullptr;
        files_ = nullptr;
        count_ = 0;
        return;
    }
    for (int i = 0; i < count_; ++i) {
        iterators_[i] =
            new (std::nothrow) Base::DataFlow::Iterator(flows[i], nullptr, nullptr, nullptr);
        char name[FILE_NAME_SIZE];
        snprintf(name, sizeof name, "%s_%d.slog", prefix, i + 1);
        files_[i] = fopen(name, "abe");
    }
}

LogSaver::~LogSaver() {
    for (int i = 0; i < count_; ++i) {
        if (files_[i] != nullptr) fclose(files_[i]);
        delete iterators_[i];
    }
    delete[] iterators_;
    delete[] files_;
}

bool LogSaver::on_invoke() {
    bool took = false;
    for (int i = 0; i < count_; ++i) {
        if (iterators_[i] == nullptr) continue;
        for (int n = 0; n < MAX_RECORDS_PER_CALL; ++n) {
            const Base::DataFlow::Iterator::Result* r = iterators_[i]->next();
            if (r == nullptr) break;
            took = true;
            // The log is best-effort: a failed write is not reported.
            if (files_[i] == nullptr) continue;
            fwrite(r->data, 1, r->length, files_[i]);
            fflush(files_[i]);
        }
    }
    return took;
}

}  // namespace Network
