#include "base/data_flow_file.h"

#include <unistd.h>

#include <cstring>

#include "base/byte_order.h"

namespace Base {

namespace {
unsigned short low16(void* version) {
    return static_cast<unsigned short>(reinterpret_cast<unsigned long>(version));
}
}  // namespace

DataFlow::FileReader::FileReader(unsigned short subject, unsigned long start, const char* path,
                                 unsigned long step, Vector* index)
    : subject_(subject),
      position_(start),
      buffer_(new char[BUFFER_SIZE]),
      start_(start),
      offset_(0),
      positioned_(false),
      version_(0),
      file_(path != nullptr ? fopen(path, "rbe") : nullptr),
      step_(step),
      index_(index) {}

DataFlow::FileReader::~FileReader() {
    if (file_ != nullptr) fclose(file_);
    delete[] buffer_;
}

bool DataFlow::FileReader::read_version() {
    return FlowFile::read_version(file_, version_);
}

bool DataFlow::FileReader::read_data_len(unsigned int& length) {
    return FlowFile::read_length(file_, length);
}

int DataFlow::FileReader::prepare_data(unsigned int length, unsigned int limit,
                                       unsigned int total) {
    if (limit != 0 && total + length > limit) return -1;
    return total + length <= BUFFER_SIZE ? 0 : -1;
}

void DataFlow::FileReader::adjust_data(char*, unsigned int) {}

bool DataFlow::FileReader::seek(unsigned long pos) {
    if (file_ == nullptr || pos < start_) return false;
    position_ = pos;
    positioned_ = false;
    if (fseek(file_, 0, SEEK_SET) != 0 || !read_version()) return false;
    offset_ = 2;
    return skip_to(pos);
}

bool DataFlow::FileReader::skip_to(unsigned long pos) {
    unsigned long count = start_;
    if (index_ != nullptr && step_ != 0) {
        unsigned long c = FlowFile::get_entry_count(index_);
        if (c != 0 && start_ <= (c - 1) * step_) {
            unsigned long k = pos / step_ < c - 1 ? pos / step_ : c - 1;
            unsigned long offset = FlowFile::get_entry(index_, k);
            if (offset != 0) {
                if (fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return false;
                offset_ = static_cast<long>(offset);
                count = k * step_;
            }
        }
    }
    while (count < pos) {
        unsigned int length;
        if (!FlowFile::read_length(file_, length)) return false;
        if (fseek(file_, length, SEEK_CUR) != 0) return false;
        offset_ += 4 + static_cast<long>(length);
        ++count;
    }
    positioned_ = true;
    return true;
}

const char* DataFlow::FileReader::read(unsigned short& length) {
    if (!positioned_ && !seek(position_)) return nullptr;
    unsigned int limit = length;
    unsigned int total = 0;
    for (;;) {
        unsigned int record;
        int prefix = -1;
        if (read_data_len(record)) prefix = prepare_data(record, limit, total);
        bool ok = prefix >= 0;
        char* at = buffer_ + total + (ok ? prefix : 0);
        if (ok) ok = record == 0 || fread(at, 1, record, file_) == record;
        if (!ok) {
            // Leave the file before the record, to be read again later.
            fseek(file_, offset_, SEEK_SET);
            break;
        }
        offset_ += 4 + static_cast<long>(record);
        adjust_data(at, record);
        ++position_;
        total += prefix + record;
        if (limit == 0 || total >= limit) break;
    }
    if (total == 0) return nullptr;
    length = static_cast<unsigned short>(total);
    return buffer_;
}

DataFlow::Saver::Saver(DataFlow* flow, const char* dir, const char* name, bool keep_existing,
                       unsigned long* cell, unsigned long step, Vector* index)
    : iterator_(flow, nullptr, nullptr, cell),
      version_(flow->get_version()),
      file_(nullptr),
      end_(0),
      step_(step),
      index_(index) {
    char path[FlowFile::PATH_SIZE];
    flow->get_file_name(dir, name, path);
    bool continued = false;
    file_ = FlowFile::open_save(path, keep_existing, low16(version_), continued, end_);
    if (file_ == nullptr) return;
    // A continued file already holds the flow's objects, as after loading.
    if (continued) iterator_.seek(flow->get_count());
    unsigned long p = iterator_.tell();
    if (index_ != nullptr && step_ != 0 && p != 0) FlowFile::set_entry(index_, (p - 1) / step_, 0);
}

DataFlow::Saver::~Saver() {
    while (invoke() > 0) {
    }
    if (file_ != nullptr) fclose(file_);
}

int DataFlow::Saver::invoke() {
    if (file_ == nullptr) return -1;
    iterator_.follow_successor();
    DataFlow* flow = iterator_.get_flow();
    if (iterator_.tell() >= flow->get_count()) return 0;
    if (flow->get_version() != version_) {
        version_ = flow->get_version();
        if (!FlowFile::restart(file_, low16(version_))) {
            fclose(file_);
            file_ = nullptr;
            return -1;
        }
        end_ = 2;
    }
    long offset = end_;
    const Iterator::Result* r = iterator_.next();
    if (r == nullptr) return 0;
    if (!FlowFile::write_record(file_, r->data, r->length)) {
        end_ = FlowFile::get_end(file_);
        return -1;
    }
    end_ += 4 + r->length;
    unsigned long id = iterator_.tell() - 1;
    if (index_ != nullptr && step_ != 0 && id % step_ == 0)
        FlowFile::set_entry(index_, id / step_, static_cast<unsigned long>(offset));
    return 1;
}

DataFlow::Loader::Loader(DataFlow* flow, const char* dir, const char* name, unsigned long step,
                         Vector* index)
    : flow_(flow), file_(nullptr), offset_(2), step_(step), index_(index), last_(nullptr) {
    char path[FlowFile::PATH_SIZE];
    flow->get_file_name(dir, name, path);
    unsigned short version = 0;
    file_ = FlowFile::open_load(path, low16(flow->get_version()), version);
    if (file_ != nullptr && version > low16(flow->get_version()))
        flow_ = flow->shift(reinterpret_cast<void*>(static_cast<unsigned long>(version)));
}

DataFlow::Loader::~Loader() {
    if (file_ != nullptr) fclose(file_);
}

void DataFlow::Loader::finish(long offset) {
    FlowFile::cut(file_, offset);
    fclose(file_);
    file_ = nullptr;
}

int DataFlow::Loader::invoke() {
    if (file_ == nullptr) return 0;
    long offset = offset_;
    unsigned int length;
    if (!FlowFile::read_length(file_, length)) {
        finish(offset);
        return 0;
    }
    void* data = flow_->alloc_object(static_cast<unsigned short>(length));
    if (data == nullptr || (length != 0 && fread(data, 1, length, file_) != length)) {
        finish(offset);
        return 0;
    }
    unsigned long end = flow_->get_count();
    if (index_ != nullptr && step_ != 0 && end % step_ == 0)
        FlowFile::set_entry(index_, end / step_, static_cast<unsigned long>(offset));
    flow_->commit_object(static_cast<unsigned short>(length), false);
    if (flow_->is_manual_commit()) flow_->commit(false);
    offset_ += 4 + static_cast<long>(length);
    last_ = data;
    return 1;
}

void DataFlow::Loader::truncate() {
    if (file_ == nullptr) return;
    FlowFile::cut(file_, 0);
    fclose(file_);
    file_ = nullptr;
}

}  // namespace Base
