#ifndef XELMD_NETWORK_XELO_FLOW_H
#define XELMD_NETWORK_XELO_FLOW_H

#include "base/data_flow.h"
#include "network/xelo_packet.h"

namespace Network {

// A data flow of protocol packets, each stored as a complete data unit
// (transport header, compression header, packet) stamped with the flow's
// subject and its own sequence number (flow sequence + 1). Threads as for
// Base::DataFlow: one writer, readers anywhere.
class XeloFlow : public Base::DataFlow {
  public:
    static const int REFERENCE_SIZE = 12;
    static const unsigned char REFERENCE_TAG = 0x11;

    class Writer;
    class Reader;
    class Iterator;
    class DataReader;
    class Sender;
    class Receiver;
    class FileReader;
    class Saver;
    class Loader;

    // What protocol readers hand out: the decoded header and the first field.
    struct View {
        const XeloPacket::Header* header;
        const char* fields;
    };

    XeloFlow(unsigned short subject, unsigned int first_block, unsigned int next_block,
             Base::Memory* memory, WriteCallback* callback, unsigned long start, void* version,
             bool auto_free, bool manual_commit);

    // A protocol flow; a successor starts without references.
    Base::DataFlow* clone() const override;

    // Writes subject and sequence into a packet's wire header (at least the
    // first 13 bytes must be there).
    static void stamp_packet(char* packet, unsigned short subject, unsigned long sequence) {
        XeloPacket::stamp(packet, subject, sequence);
    }
    // The same for a stored unit; stamps land as for a unit without
    // extension, the only kind writers produce.
    static void stamp(char* unit, unsigned short subject, unsigned long sequence) {
        stamp_packet(unit + XeloPacket::UNIT_PREFIX_SIZE, subject, sequence);
    }
    // Transport header (type 2, content_length packet + 2) and compression
    // header (version 1, method 0).
    static void write_prefix(char* unit, unsigned int packet_length);
    static bool is_reference(const char* object, unsigned short length);
    static const char* get_referenced(const char* object);
    // Decodes the packet header of a unit of length bytes into out and
    // returns its first field; null (out undefined) when the unit is too
    // short for its headers or its packet claims more content than the unit
    // holds. Readers skip such a unit rather than read past it.
    static const char* decode(const char* unit, unsigned int length, XeloPacket::Header* out);
    // Day number of a yyyymmdd date and back; 0 stays 0.
    static void* to_version(int date);
    static int from_version(void* version);
};

// Builds or copies packets into the last flow of a chain. The flow's writer
// thread.
class XeloFlow::Writer {
  public:
    Writer(XeloFlow* flow, bool allow_references);
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // A packet builder over a fresh unit: tid, version (4 for 0), subject and
    // the next sequence number are set; the caller adds fields.
    XeloPacket* alloc_packet(unsigned short tid, unsigned char version);
    // Finishes the packet built and commits it; the flow sequence number.
    unsigned long commit_packet(bool notify);
    // A full-size unit with both headers written; the packet goes at 6.
    char* alloc_xmp_packet();
    unsigned long commit_xmp_packet(unsigned short length, bool notify);
    // Stores a reference to frame (when asked and allowed) or a stamped copy.
    // ~0UL when the frame cannot be an object.
    unsigned long add_packet(const XmpPacket::Header* frame, bool by_reference, bool notify);
    // Copies a wire packet behind a fresh prefix and stamps it.
    unsigned long add_packet(const XeloPacket::Header* packet, bool notify);
    void shift(void* version);
    XeloFlow* get_flow() const { return flow_; }

  private:
    XeloFlow* last();
    unsigned long commit(unsigned int length, bool notify);

    XeloFlow* flow_;
    bool allow_references_;
    char* frame_;
    XeloPacket packet_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_XELO_FLOW_H
