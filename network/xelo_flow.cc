#include "network/xelo_flow.h"

#include <cstring>

#include "base/byte_order.h"
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

void XeloFlow::stamp_packet(char* packet, unsigned short subject, unsigned long sequence) {
    Base::store_be16(packet + 2, subject);
    Base::store_be32(packet + 8, static_cast<unsigned int>(sequence));
    packet[12] = static_cast<char>(sequence >> 32);
}

void XeloFlow::write_prefix(char* unit, unsigned int packet_length) {
    unit[0] = XmpPacket::TYPE_DATA;
    unit[1] = 0;
    Base::store_be16(unit + 2, static_cast<unsigned short>(packet_length + 2));
    unit[4] = CrpPacket::VERSION;
    unit[5] = CrpPacket::METHOD_PLAIN;
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

unsigned int XeloFlow::get_unit_length(const char* unit) {
    return Base::load_be16(unit + 2) + 4u;
}

const char* XeloFlow::decode(const char* unit, XeloPacket::Header* out) {
    unsigned int ext = static_cast<unsigned char>(unit[1]);
    int available = static_cast<int>(get_unit_length(unit)) - PREFIX_SIZE - static_cast<int>(ext);
    // Units reach a flow only through the writer or a channel that checked them.
    XeloPacket::from_stream(out, unit + PREFIX_SIZE + ext, available);
    return unit + FIELDS_AT + ext;
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
    Base::store_be16(frame_ + 2, static_cast<unsigned short>(length + 2));
    return commit(length + PREFIX_SIZE, notify);
}

XeloPacket* XeloFlow::Writer::alloc_packet(unsigned short tid, unsigned char version) {
    if (alloc_xmp_packet() == nullptr) return nullptr;
    packet_.attach(frame_ + PREFIX_SIZE);
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
    unsigned int length = get_unit_length(unit);
    if (length < FIELDS_AT) return REFUSED;
    char* p = static_cast<char*>(flow->alloc_object(static_cast<unsigned short>(length)));
    memcpy(p, unit, length);
    stamp(p, flow->get_subject(), flow->get_next_id() + 1);
    return commit(length, notify);
}

unsigned long XeloFlow::Writer::add_packet(const XeloPacket::Header* packet, bool notify) {
    const char* wire = reinterpret_cast<const char*>(packet);
    unsigned int length = Base::load_be16(wire + 14) + XeloPacket::HEADER_SIZE;
    if (length + PREFIX_SIZE > MAX_OBJECT) return REFUSED;
    XeloFlow* flow = last();
    char* p = static_cast<char*>(flow->alloc_object(static_cast<unsigned short>(length + 6)));
    write_prefix(p, length);
    memcpy(p + PREFIX_SIZE, wire, length);
    stamp(p, flow->get_subject(), flow->get_next_id() + 1);
    return commit(length + PREFIX_SIZE, notify);
}

void XeloFlow::Writer::shift(void* version) {
    flow_ = static_cast<XeloFlow*>(last()->shift(version));
}

}  // namespace Network
