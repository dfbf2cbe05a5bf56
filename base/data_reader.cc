#include "base/data_reader.h"

#include <cstdio>

#include "base/reportable.h"

namespace Base {

DataReader::DataReader(DataFlow* flow, Notify* notify, DataFlow::ReadCallback* callback,
                       unsigned long* cell, unsigned long keep, const char* path,
                       unsigned long step, Vector* index, Reportable* log)
    : DataReader(new DataFlow::Iterator(flow, notify, callback, cell), keep, path, step, index,
                 log) {}

DataReader::DataReader(DataFlow::Iterator* iterator, unsigned long keep, const char* path,
                       unsigned long step, Vector* index, Reportable* log)
    : iterator_(iterator),
      keep_(keep),
      path_{},
      step_(step),
      index_(index),
      file_reader_(nullptr),
      pending_{nullptr, 0},
      has_pending_(false),
      log_(log) {
    if (path != nullptr) snprintf(path_, sizeof path_, "%s", path);
    if (iterator_->get_flow() != nullptr) iterator_->seek(iterator_->get_flow()->get_start_id());
}

DataReader::~DataReader() {
    delete file_reader_;
    delete iterator_;
}

DataFlow::FileReader* DataReader::create_file_reader() {
    DataFlow* flow = get_flow();
    return new DataFlow::FileReader(flow->get_subject(), flow->get_start_id(), path_, step_,
                                    index_);
}

void DataReader::report(bool create, unsigned long pos, unsigned long recycle_pos) {
    if (log_ == nullptr) return;
    unsigned short subject = get_flow()->get_subject();
    void* self = static_cast<void*>(this);
    // Literal formats, each whole: a reporter receives the format itself.
    if (create)
        log_->report(5, "DataReader",
                     "create file reader subject=[0x%04x] id=[%lu] recycle_pos=[%lu] [%p]", subject,
                     pos, recycle_pos, self);
    else
        log_->report(5, "DataReader",
                     "delete file reader subject=[0x%04x] id=[%lu] recycle_pos=[%lu] [%p]", subject,
                     pos, recycle_pos, self);
}

bool DataReader::seek(unsigned long pos) {
    DataFlow* flow = get_flow();
    if (flow == nullptr || pos < flow->get_start_id()) return false;
    unsigned long end = flow->get_count();
    if (pos > end) pos = end;
    has_pending_ = false;
    unsigned long r = iterator_->get_recycle_pos();
    if (r <= keep_ + pos) {
        if (file_reader_ != nullptr) {
            report(false, pos, r);
            delete file_reader_;
            file_reader_ = nullptr;
        }
        return iterator_->seek(pos);
    }
    if (file_reader_ == nullptr) {
        file_reader_ = create_file_reader();
        if (file_reader_ == nullptr) return false;
        report(true, pos, r);
    }
    return file_reader_->seek(pos);
}

const char* DataReader::read(unsigned short& length) {
    if (file_reader_ != nullptr) {
        if (file_reader_->tell() + keep_ >= iterator_->get_recycle_pos()) {
            seek(file_reader_->tell());
        } else {
            return file_reader_->read(length);
        }
    }
    return read_memory(length);
}

const char* DataReader::read_memory(unsigned short& length) {
    DataFlow::Iterator::Result current;
    if (has_pending_) {
        current = pending_;
        has_pending_ = false;
    } else {
        const DataFlow::Iterator::Result* r = iterator_->next();
        if (r == nullptr) {
            length = 0;
            return nullptr;
        }
        current = *r;
    }
    unsigned int limit = length;
    unsigned int total = 0;
    const char* first = nullptr;
    for (;;) {
        if (limit == 0) limit = current.length;
        bool fits = total + current.length <= limit;
        bool adjacent = first == nullptr || current.data == first + total;
        if (!fits || !adjacent) {
            pending_ = current;
            has_pending_ = true;
            break;
        }
        if (first == nullptr) first = current.data;
        total += current.length;
        if (total >= limit) break;
        const DataFlow::Iterator::Result* r = iterator_->next();
        if (r == nullptr) break;
        current = *r;
    }
    length = static_cast<unsigned short>(total);
    return first;
}

bool DataReader::available() {
    if (file_reader_ != nullptr || has_pending_) return true;
    iterator_->follow_successor();
    return iterator_->tell() < get_flow()->get_count();
}

unsigned long DataReader::tell() const {
    return file_reader_ != nullptr ? file_reader_->tell() : iterator_->tell();
}

void DataReader::reset() {
    has_pending_ = false;
    delete file_reader_;
    file_reader_ = nullptr;
    DataFlow* flow = get_flow();
    if (flow == nullptr) return;
    iterator_->detach();
    iterator_->attach(flow);
}

}  // namespace Base
