#include "network/xelo_flow.h"

#include <cstring>

#include "base/date.h"
#include "network/crp_packet.h"

namespace Network {

namespace {
const unsigned long REFUSED = ~0UL;
const unsigned int MAX_OBJECT = 65535;
}  // namespace

XeloFlow::XeloFlow(unsigned short subject, unsigned int first_block, unsigned int next_block,
                   Base::Memory* memory, WriteCallback* callback, unsigned long start,
                   void* version, bool auto_free, bool manual_commit)
    : Base::DataFlow(subject, first_block, next_block, memory, callback, start, version, auto_free,
                     manual_commit) {}

Base::DataFlow* XeloFlow::clone() const {
    return new XeloFlow(get_subject(), get_first_block(), get_next_block(), get_memory(),
                        get_write_callback(), 0, nullptr, is_auto_free(), is_manual_commit());
}

void XeloFlow::write_prefix(char* unit, unsigned int packet_length) {
    XmpPacket::Header transport = {
        XmpPacket::TYPE_DATA, 0,
        static_cast<unsigned short>(packet_length + CrpPacket::HEADER_SIZE)};
    XmpPacket::to_stream(&transport, unit);
    CrpPacket::Header compression = {CrpPacket::VERSION, CrpPacket::METHOD_PLAIN};
    CrpPacket::to_stream(&compression, unit + XmpPacket::HEADER_SIZE);
}

bool XeloFlow::is_reference(const char* object, unsigned short length) {
    return length == REFERENCE_SIZE && static_cast<unsigned char>(object[0]) == REFERENCE_TAG &&
           object[1] == 8 && object[2] == 0 && object[3] == 0;
}

const char* XeloFlow::get_referenced(const char* object) {
    const char* frame;
    memcpy(&frame, object + 4, sizeof frame);
    return frame;
}

const char* XeloFlow::decode(const char* unit, unsigned int length, XeloPacket::Header* out) {
    if (length < static_cast<unsigned int>(XeloPacket::UNIT_FIELDS_AT)) return nullptr;
    unsigned int frame = XmpPacket::get_frame_length(unit);
    if (frame < length) length = frame;
    unsigned int at = XeloPacket::get_unit_packet_offset(unit);
    if (at > length) return nullptr;
    if (!XeloPacket::from_stream(out, unit + at, static_cast<int>(length - at))) return nullptr;
    return unit + at + XeloPacket::HEADER_SIZE;
}

void* XeloFlow::to_version(int date) {
    long days = date == 0 ? 0 : Base::Date::get_days(date);
    return reinterpret_cast<void*>(days);
}

int XeloFlow::from_version(void* version) {
    long days = reinterpret_cast<long>(version);
    return days == 0 ? 0 : Base::Date::from_days(static_cast<int>(days));
}

XeloFlow::Writer::Writer(XeloFlow* flow, bool allow_references)
    : flow_(flow),
      allow_references_(allow_references),
      frame_(nullptr),
      packet_(0, 0, XeloPacket::CHAIN_LAST) {
    flow_->set_references(allow_references);
    packet_.header.sequence_series = flow->get_subject();
}

XeloFlow* XeloFlow::Writer::last() {
    // Successors of a protocol flow are protocol flows (clone()).
    flow_ = static_cast<XeloFlow*>(flow_->get_last());
    return flow_;
}

unsigned long XeloFlow::Writer::commit(unsigned int length, bool notify) {
    return flow_->commit_object(static_cast<unsigned short>(length), notify);
}

char* XeloFlow::Writer::alloc_xmp_packet() {
    frame_ = static_cast<char*>(last()->alloc_object(XmpPacket::MAX_PACKAGE_SIZE));
    if (frame_ != nullptr) write_prefix(frame_, 0);
    return frame_;
}

unsigned long XeloFlow::Writer::commit_xmp_packet(unsigned short length, bool notify) {
    XmpPacket::set_content_length(frame_,
                                  static_cast<unsigned short>(length + CrpPacket::HEADER_SIZE));
    return commit(length + XeloPacket::UNIT_PREFIX_SIZE, notify);
}

XeloPacket* XeloFlow::Writer::alloc_packet(unsigned short tid, unsigned char version) {
    if (alloc_xmp_packet() == nullptr) return nullptr;
    packet_.attach(frame_ + XeloPacket::UNIT_PREFIX_SIZE);
    packet_.header.tid = tid;
    packet_.header.version = version == 0 ? XeloPacket::VERSION : version;
    packet_.header.sequence_series = flow_->get_subject();
    packet_.set_sequence(flow_->get_next_id() + 1);
    return &packet_;
}

unsigned long XeloFlow::Writer::commit_packet(bool notify) {
    int length = packet_.commit();
    return commit_xmp_packet(static_cast<unsigned short>(length), notify);
}

unsigned long XeloFlow::Writer::add_packet(const XmpPacket::Header* frame, bool by_reference,
                                           bool notify) {
    XeloFlow* flow = last();
    if (by_reference && allow_references_) {
        char* p = static_cast<char*>(flow->alloc_object(REFERENCE_SIZE));
        p[0] = static_cast<char>(REFERENCE_TAG);
        p[1] = 8;
        p[2] = 0;
        p[3] = 0;
        memcpy(p + 4, &frame, sizeof frame);
        return commit(REFERENCE_SIZE, notify);
    }
    const char* unit = reinterpret_cast<const char*>(frame);
    unsigned int length = XmpPacket::get_frame_length(unit);
    XeloPacket::Header header;
    if (decode(unit, length, &header) == nullptr) return REFUSED;
    char* p = static_cast<char*>(flow->alloc_object(static_cast<unsigned short>(length)));
    memcpy(p, unit, length);
    stamp(p, flow->get_subject(), flow->get_next_id() + 1);
    return commit(length, notify);
}

unsigned long XeloFlow::Writer::add_packet(const XeloPacket::Header* packet, bool notify) {
    const char* wire = reinterpret_cast<const char*>(packet);
    unsigned int length = XeloPacket::get_wire_length(wire);
    unsigned int unit = length + XeloPacket::UNIT_PREFIX_SIZE;
    if (unit > MAX_OBJECT) return REFUSED;
    XeloFlow* flow = last();
    char* p = static_cast<char*>(flow->alloc_object(static_cast<unsigned short>(unit)));
    write_prefix(p, length);
    memcpy(p + XeloPacket::UNIT_PREFIX_SIZE, wire, length);
    stamp(p, flow->get_subject(), flow->get_next_id() + 1);
    return commit(unit, notify);
}

void XeloFlow::Writer::shift(void* version) {
    flow_ = static_cast<XeloFlow*>(last()->shift(version));
}

}  // namespace Network
