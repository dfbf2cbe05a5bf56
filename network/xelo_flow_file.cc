#include "network/xelo_flow_file.h"

#include "base/flow_file.h"
#include "parallel/flow_recycler.h"

namespace Network {

namespace {
unsigned short low16(void* version) {
    return static_cast<unsigned short>(reinterpret_cast<unsigned long>(version));
}
// Largest packet a unit allocated by the writer can hold.
const unsigned int MAX_RECORD = XmpPacket::MAX_PACKAGE_SIZE - XeloPacket::UNIT_PREFIX_SIZE;
}  // namespace

XeloFlow::FileReader::FileReader(unsigned short subject, unsigned long start, const char* path,
                                 unsigned long step, Base::Vector* index)
    : Base::DataFlow::FileReader(subject, start, path, step, index) {}

int XeloFlow::FileReader::prepare_data(unsigned int length, unsigned int limit,
                                       unsigned int total) {
    unsigned int need = length + XeloPacket::UNIT_PREFIX_SIZE;
    if (limit != 0 && total + need > limit) return -1;
    if (total + need > BUFFER_SIZE || length < XeloPacket::HEADER_SIZE) return -1;
    write_prefix(buffer_ + total, length);
    return XeloPacket::UNIT_PREFIX_SIZE;
}

void XeloFlow::FileReader::adjust_data(char* record, unsigned int) {
    stamp_packet(record, subject_, position_ + 1);
}

XeloFlow::Saver::Saver(XeloFlow* flow, const char* dir, const char* name, bool keep_existing,
                       Parallel::FlowRecycler* recycler)
    : XeloFlow::Sender(flow, recycler),
      file_(nullptr),
      end_(0),
      version_(flow->get_version()),
      step_(recycler != nullptr ? recycler->get_step() : 0),
      index_(recycler != nullptr ? recycler->get_index() : nullptr) {
    char path[Base::FlowFile::PATH_SIZE];
    flow->get_file_name(dir, name, path);
    bool continued = false;
    file_ = Base::FlowFile::open_save(path, keep_existing, low16(version_), continued, end_);
    if (file_ == nullptr) return;
    if (continued) reader_.seek(flow->get_count());
    unsigned long p = reader_.tell();
    if (index_ != nullptr && step_ != 0 && p != 0)
        Base::FlowFile::set_entry(index_, (p - 1) / step_, 0);
}

XeloFlow::Saver::~Saver() {
    while (invoke() > 0) {
    }
    if (file_ != nullptr) fclose(file_);
}

int XeloFlow::Saver::invoke() {
    if (file_ == nullptr) return -1;
    if (!reader_.available()) return 0;
    void* version = reader_.get_flow()->get_version();
    if (version != version_) {
        version_ = version;
        if (!Base::FlowFile::restart(file_, low16(version_))) {
            fclose(file_);
            file_ = nullptr;
            return -1;
        }
        end_ = 2;
    }
    long offset = end_;
    unsigned short length = 0;
    const char* packet = read(length);
    if (packet == nullptr) return 0;
    if (!Base::FlowFile::write_record(file_, packet, length)) {
        end_ = Base::FlowFile::get_end(file_);
        return -1;
    }
    end_ += 4 + length;
    unsigned long id = reader_.tell() - 1;
    if (index_ != nullptr && step_ != 0 && id % step_ == 0)
        Base::FlowFile::set_entry(index_, id / step_, static_cast<unsigned long>(offset));
    return 1;
}

XeloFlow::Loader::Loader(XeloFlow* flow, const char* dir, const char* name,
                         Parallel::FlowRecycler* recycler)
    : writer_(flow, false),
      file_(nullptr),
      offset_(2),
      step_(recycler != nullptr ? recycler->get_step() : 0),
      index_(recycler != nullptr ? recycler->get_index() : nullptr),
      last_(nullptr) {
    char path[Base::FlowFile::PATH_SIZE];
    flow->get_file_name(dir, name, path);
    unsigned short mine = low16(flow->get_version());
    unsigned short version = 0;
    file_ = Base::FlowFile::open_load(path, mine, version);
    if (file_ != nullptr && version > mine)
        writer_.shift(reinterpret_cast<void*>(static_cast<unsigned long>(version)));
}

XeloFlow::Loader::~Loader() {
    if (file_ != nullptr) fclose(file_);
}

void XeloFlow::Loader::finish(long offset) {
    Base::FlowFile::cut(file_, offset);
    fclose(file_);
    file_ = nullptr;
}

int XeloFlow::Loader::invoke() {
    if (file_ == nullptr) return 0;
    long offset = offset_;
    unsigned int length = 0;
    if (!Base::FlowFile::read_length(file_, length) || length < XeloPacket::HEADER_SIZE ||
        length > MAX_RECORD) {
        finish(offset);
        return 0;
    }
    char* unit = writer_.alloc_xmp_packet();
    if (unit == nullptr || fread(unit + XeloPacket::UNIT_PREFIX_SIZE, 1, length, file_) != length) {
        finish(offset);
        return 0;
    }
    XeloFlow* flow = writer_.get_flow();
    unsigned long end = flow->get_count();
    stamp(unit, flow->get_subject(), flow->get_next_id() + 1);
    if (index_ != nullptr && step_ != 0 && end % step_ == 0)
        Base::FlowFile::set_entry(index_, end / step_, static_cast<unsigned long>(offset));
    writer_.commit_xmp_packet(static_cast<unsigned short>(length), false);
    if (flow->is_manual_commit()) flow->commit(false);
    offset_ += 4 + static_cast<long>(length);
    last_ = unit;
    return 1;
}

void XeloFlow::Loader::truncate() {
    if (file_ == nullptr) return;
    Base::FlowFile::cut(file_, 0);
    fclose(file_);
    file_ = nullptr;
}

}  // namespace Network
