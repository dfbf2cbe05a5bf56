#include "network/xelo_flow_reader.h"

#include <cstring>

#include "network/xelo_flow_file.h"
#include "parallel/flow_recycler.h"

namespace Network {

XeloFlow::Iterator::Iterator(Base::DataFlow* flow, Base::Notify* notify, ReadCallback* callback,
                             unsigned long* cell)
    : Base::DataFlow::Iterator(flow, notify, callback, cell), slot_(1), last_{nullptr, 0} {}

const XeloFlow::Iterator::Result* XeloFlow::Iterator::next() {
    const Result* r = Base::DataFlow::Iterator::next();
    if (r == nullptr || !get_flow()->has_references() || !is_reference(r->data, r->length))
        return r;
    const char* frame = get_referenced(r->data);
    unsigned int length = XmpPacket::get_frame_length(frame);
    // A referenced unit longer than any unit is handed out as the bare
    // reference rather than overrunning the slot.
    if (length > XeloPacket::MAX_PACKAGE_SIZE ||
        length < static_cast<unsigned int>(XeloPacket::UNIT_FIELDS_AT))
        return r;
    slot_ ^= 1;
    char* copy = buffer_ + slot_ * SLOT_SIZE;
    memcpy(copy, frame, length);
    stamp(copy, get_flow()->get_subject(), tell());
    last_ = Result{copy, static_cast<unsigned short>(length)};
    return &last_;
}

XeloFlow::Reader::Reader(XeloFlow* flow, Base::Notify* notify, ReadCallback* callback,
                         Parallel::FlowRecycler* recycler)
    : recycler_(recycler),
      cell_(recycler != nullptr ? recycler->alloc_reader() : nullptr),
      iterator_(flow, notify, callback, cell_),
      header_(),
      view_{&header_, nullptr} {}

XeloFlow::Reader::~Reader() {
    iterator_.detach();
    if (recycler_ != nullptr) recycler_->free_reader(cell_);
}

const XeloFlow::View* XeloFlow::Reader::read() {
    // A unit that does not hold what its packet header claims is skipped.
    while (const Base::DataFlow::Iterator::Result* r = iterator_.next()) {
        view_.fields = decode(r->data, r->length, &header_);
        if (view_.fields != nullptr) return &view_;
    }
    return nullptr;
}

XeloFlow::DataReader::DataReader(XeloFlow* flow, Base::Notify* notify, ReadCallback* callback,
                                 Parallel::FlowRecycler* recycler, Base::Reportable* log)
    : DataReader(flow, notify, callback, recycler,
                 recycler != nullptr ? recycler->alloc_reader() : nullptr, log) {}

XeloFlow::DataReader::DataReader(XeloFlow* flow, Base::Notify* notify, ReadCallback* callback,
                                 Parallel::FlowRecycler* recycler, unsigned long* cell,
                                 Base::Reportable* log)
    : Base::DataReader(new Iterator(flow, notify, callback, cell),
                       recycler != nullptr ? recycler->get_keep() : 0,
                       recycler != nullptr ? recycler->get_path() : nullptr,
                       recycler != nullptr ? recycler->get_step() : 0,
                       recycler != nullptr ? recycler->get_index() : nullptr, log),
      recycler_(recycler),
      cell_(cell),
      header_(),
      view_{&header_, nullptr} {}

XeloFlow::DataReader::~DataReader() {
    // The cell goes back only once the iterator no longer moves it.
    get_iterator()->detach();
    if (recycler_ != nullptr) recycler_->free_reader(cell_);
}

Base::DataFlow::FileReader* XeloFlow::DataReader::create_file_reader() {
    if (recycler_ == nullptr) return nullptr;
    Base::DataFlow* flow = get_flow();
    return new XeloFlow::FileReader(flow->get_subject(), flow->get_start_id(), get_path(),
                                    get_step(), get_index());
}

const XeloFlow::View* XeloFlow::DataReader::read() {
    // A unit that does not hold what its packet header claims is skipped.
    while (available()) {
        unsigned short length = 0;
        const char* unit = Base::DataReader::read(length);
        if (unit == nullptr) return nullptr;
        view_.fields = decode(unit, length, &header_);
        if (view_.fields != nullptr) return &view_;
    }
    return nullptr;
}

XeloFlow::Sender::Sender(XeloFlow* flow, Parallel::FlowRecycler* recycler)
    : Base::DataFlow::Sender(nullptr), reader_(flow, nullptr, nullptr, recycler, nullptr) {}

XeloFlow::Sender* XeloFlow::Sender::create(XeloFlow* flow) {
    return new Sender(flow, nullptr);
}

unsigned long XeloFlow::Sender::get_version() {
    return static_cast<unsigned long>(from_version(reader_.get_flow()->get_version()));
}

unsigned long XeloFlow::Sender::get_count() {
    return reader_.get_flow()->get_count();
}

unsigned long XeloFlow::Sender::tell() {
    return reader_.tell();
}

bool XeloFlow::Sender::available() {
    return reader_.available();
}

bool XeloFlow::Sender::seek(unsigned long pos) {
    return reader_.seek(pos);
}

const char* XeloFlow::Sender::read(unsigned short& length) {
    const View* v = reader_.read();
    if (v == nullptr) return nullptr;
    length = static_cast<unsigned short>(XeloPacket::HEADER_SIZE + v->header->content_length);
    return v->fields - XeloPacket::HEADER_SIZE;
}

XeloFlow::Receiver::Receiver(XeloFlow* flow)
    : Base::DataFlow::Receiver(flow), writer_(flow, false) {}

unsigned long XeloFlow::Receiver::get_version() {
    return static_cast<unsigned long>(from_version(flow_->get_version()));
}

void XeloFlow::Receiver::set_version(unsigned long date) {
    writer_.shift(to_version(static_cast<int>(date)));
    flow_ = writer_.get_flow();
}

void XeloFlow::Receiver::write(const void* data, unsigned short) {
    writer_.add_packet(static_cast<const XeloPacket::Header*>(data), false);
    flow_ = writer_.get_flow();
}

}  // namespace Network
