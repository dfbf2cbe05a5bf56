#include "network/xelo_flow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/date.h"
#include "network/xelo_flow_file.h"
#include "network/xelo_flow_reader.h"
#include "parallel/flow_recycler.h"
#include "tests/base/flow_test_util.h"
#include "tests/test_table.h"

namespace {

using Network::XeloFlow;
using Network::XeloPacket;
using Strings = std::vector<std::string>;

constexpr unsigned int MIB = 1048576;

// A wire packet with one field of n bytes (value i), the given series and
// sequence number.
std::string make_packet(unsigned int tid, int n, unsigned short series, unsigned long sequence) {
    char buffer[XeloPacket::HEADER_SIZE + XeloPacket::MAX_BODY_SIZE];
    XeloPacket packet(tid, 0, XeloPacket::CHAIN_LAST);
    packet.attach(buffer);
    char* data = static_cast<char*>(packet.add_field(0x1001, static_cast<unsigned short>(n)));
    for (int i = 0; i < n; ++i) data[i] = static_cast<char>(i);
    packet.header.sequence_series = series;
    packet.set_sequence(sequence);
    return std::string(buffer, packet.commit());
}

std::string make_unit(const std::string& packet) {
    std::string unit(6, '\0');
    XeloFlow::write_prefix(&unit[0], static_cast<unsigned int>(packet.size()));
    return unit + packet;
}

// A flow of 1 MiB blocks; version names its trading day.
struct Flow : XeloFlow {
    explicit Flow(unsigned short subject, unsigned int day = 0, bool auto_free = false)
        : XeloFlow(subject, MIB, MIB, nullptr, nullptr, 0, day ? to_version(day) : nullptr,
                   auto_free, false) {}
};

const XeloPacket::Header* header(const std::string& p) {
    return reinterpret_cast<const XeloPacket::Header*>(p.data());
}
const Network::XmpPacket::Header* frame(const std::string& u) {
    return reinterpret_cast<const Network::XmpPacket::Header*>(u.data());
}

// "tid/series#sequence:content length[field id, field bytes]" of a packet.
std::string describe(const XeloPacket::Header* h, const char* fields) {
    XeloPacket::Iterator it(h, fields);
    unsigned short n = 0;
    const int id = it.next();
    const char* data = id < 0 ? "" : static_cast<const char*>(it.get_field(n));
    return std::to_string(h->tid) + "/" + std::to_string(h->sequence_series) + "#" +
           std::to_string(XeloPacket::get_sequence(h)) + ":" + std::to_string(h->content_length) +
           "[" + std::to_string(id) + "," + std::to_string(n) + "," +
           std::to_string(n ? data[n - 1] : -1) + "]";
}
// The same for the packet of a stored unit.
std::string describe(const char* unit, unsigned int length) {
    XeloPacket::Header h;
    const char* fields = XeloFlow::decode(unit, length, &h);
    return fields ? describe(&h, fields) : "undecodable";
}
std::string describe(const std::string& unit) {
    return describe(unit.data(), static_cast<unsigned int>(unit.size()));
}
template <typename Reader>
Strings views(Reader& reader) {
    Strings out;
    while (const XeloFlow::View* v = reader.read()) out.push_back(describe(v->header, v->fields));
    return out;
}
// The objects of a flow, references expanded.
Strings units(XeloFlow* flow) {
    Strings out;
    XeloFlow::Iterator it(flow, nullptr, nullptr, nullptr);
    while (const Base::DataFlow::Iterator::Result* r = it.next())
        out.emplace_back(r->data, r->length);
    return out;
}

// Built packets, written-out packets and copies of wire packets or frames
// (a writer without references copies even when asked for a reference) are
// stored as units of their real length, stamped with the flow's subject and
// their own sequence number.
TEST(XeloFlowWriter, PacketsAreStoredAsStampedUnitsOfTheirRealLength) {
    XeloFlow flow(5, MIB, MIB, nullptr, nullptr, 0x100000000UL, nullptr, false, false);
    XeloFlow::Writer writer(&flow, false);
    XeloPacket* p = writer.alloc_packet(0x3003, 0);
    ASSERT_NE(nullptr, p);
    p->header.request_id = 42;
    memcpy(p->add_field(9, 4), "abcd", 4);
    EXPECT_EQ(0x100000000UL, writer.commit_packet(false));
    char* unit = writer.alloc_xmp_packet();
    memcpy(unit + 6, make_packet(1, 0, 0, 0).data(), 20);
    EXPECT_EQ(0x100000001UL, writer.commit_xmp_packet(20, false));
    EXPECT_EQ(0x100000002UL,
              writer.add_packet(header(make_packet(7, 30, 0x999, 0x12345UL)), false));
    EXPECT_EQ(0x100000003UL,
              writer.add_packet(frame(make_unit(make_packet(8, 5, 3, 3))), true, false));

    // Written out from the layout: transport header (data, 30 bytes) and
    // compression header (version 1, plain); the packet header (version 4,
    // last of chain, series 5, tid 0x3003, sequence 2^32 + 1, one field of
    // 8 bytes, request 42); the field.
    const std::string want(
        "\x02\x00\x00\x1e\x01\x00"
        "\x04L\x00\x05\x00\x00\x30\x03\x00\x00\x00\x01\x01\x01\x00\x08\x00\x00\x00\x2a"
        "\x00\x09\x00\x04"
        "abcd",
        34);
    const Strings got = units(&flow);
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ(want, got[0]);
    EXPECT_EQ(std::string("\x02\x00\x00\x16", 4), got[1].substr(0, 4));
    EXPECT_EQ(26u, got[1].size());
    EXPECT_EQ(make_unit(make_packet(7, 30, 5, 0x100000003UL)), got[2]);
    EXPECT_EQ(make_unit(make_packet(8, 5, 5, 0x100000004UL)), got[3]);
    XeloFlow::Reader reader(&flow, nullptr, nullptr, nullptr);
    // The reader skips the written-out packet, whose header claims a field.
    EXPECT_EQ(views(reader),
              (Strings{"12291/5#4294967297:8[9,4,100]", "7/5#4294967299:34[4097,30,29]",
                       "8/5#4294967300:9[4097,5,4]"}));
}

TEST(XeloFlowIterator, ReferencesExpandWithTheReadingFlowsStampingIntoTwoSlots) {
    Flow flow(0x44);
    XeloFlow::Writer writer(&flow, true);
    EXPECT_TRUE(flow.has_references());
    const std::string a = make_unit(make_packet(1, 10, 9, 9)),
                      b = make_unit(make_packet(2, 20, 9, 9));
    writer.add_packet(frame(a), true, false);
    writer.add_packet(frame(b), true, false);
    writer.add_packet(frame(a), false, false);

    XeloFlow::Iterator it(&flow, nullptr, nullptr, nullptr);
    const Base::DataFlow::Iterator::Result* r1 = it.next();
    ASSERT_NE(nullptr, r1);
    const char* first_data = r1->data;
    const std::string first(r1->data, r1->length);
    const Base::DataFlow::Iterator::Result* r2 = it.next();
    ASSERT_NE(nullptr, r2);
    // The first expansion survives the next call.
    EXPECT_EQ(first, std::string(first_data, first.size()));
    EXPECT_EQ(make_unit(make_packet(1, 10, 0x44, 1)), first);
    EXPECT_EQ(make_unit(make_packet(2, 20, 0x44, 2)), std::string(r2->data, r2->length));
    EXPECT_EQ(make_unit(make_packet(1, 10, 9, 9)), a);  // the referenced frame is untouched
    ASSERT_NE(nullptr, it.next());
    EXPECT_EQ(units(&flow)[2], make_unit(make_packet(1, 10, 0x44, 3)));

    XeloFlow::Reader reader(&flow, nullptr, nullptr, nullptr);
    EXPECT_EQ(views(reader)[0], "1/68#1:14[4097,10,9]");
}

TEST(XeloFlowDecode, RefusesUnitsThatHoldLessThanTheirHeadersClaim) {
    const char* table = "network/unit_decode.data";
    for (const TestTable::Row& c : TestTable::read(table, "decode")) {
        std::string unit = make_unit(make_packet(1, 10, 0, 0));
        Base::store_be16(&unit[6 + 14], static_cast<unsigned short>(14 + std::stoi(c[2])));
        unit[1] = static_cast<char>(std::stoi(c[3]));
        unit.resize(unit.size() - std::stoul(c[1]));
        XeloPacket::Header h;
        const char* fields =
            XeloFlow::decode(unit.data(), static_cast<unsigned int>(unit.size()), &h);
        EXPECT_EQ(c[4] == "1" ? unit.data() + 26 : nullptr, fields) << TestTable::where(table, c);
    }
}

TEST(XeloFlowReader, SkipsAReferencedUnitWhosePacketClaimsMoreThanItHolds) {
    Flow flow(0x45);
    XeloFlow::Writer writer(&flow, true);
    std::string good = make_unit(make_packet(1, 10, 0, 0));
    std::string bad = make_unit(make_packet(2, 10, 0, 0));
    Base::store_be16(&bad[6 + 14], 15);  // one byte more than the unit holds
    EXPECT_EQ(~0UL, writer.add_packet(frame(bad), false, false));  // a copy is refused
    writer.add_packet(frame(good), true, false);
    writer.add_packet(frame(bad), true, false);  // a reference cannot be checked at once
    writer.add_packet(frame(good), true, false);
    XeloFlow::Reader reader(&flow, nullptr, nullptr, nullptr);
    EXPECT_EQ(views(reader), (Strings{"1/69#1:14[4097,10,9]", "1/69#3:14[4097,10,9]"}));
    XeloFlow::Sender* sender = XeloFlow::Sender::create(&flow);
    unsigned short len = 0;
    ASSERT_NE(nullptr, sender->read(len));
    ASSERT_NE(nullptr, sender->read(len));
    EXPECT_EQ(34, len);
    EXPECT_FALSE(sender->available());
    delete sender;
}

TEST(XeloFlowWriter, ASuccessorFlowStartsWithoutReferences) {
    Flow flow(2, 20250102, true);
    XeloFlow::Writer writer(&flow, true);
    std::string p = make_packet(1, 1, 0, 0);
    writer.add_packet(header(p), false);
    writer.shift(XeloFlow::to_version(20250103));
    XeloFlow* next = writer.get_flow();
    ASSERT_NE(&flow, next);
    EXPECT_EQ(next, flow.get_next());
    EXPECT_TRUE(!next->has_references() && next->is_auto_free() && next->get_subject() == 2);
    writer.add_packet(header(p), false);
    XeloFlow::Reader reader(&flow, nullptr, nullptr, nullptr);
    // On the successor, numbered from 1.
    EXPECT_EQ(views(reader), (Strings{"1/2#1:5[4097,1,0]", "1/2#1:5[4097,1,0]"}));
    EXPECT_EQ(0u, flow.get_count());  // auto-free: the day left behind is released
}

using XeloFlowFileTest = FlowTest::TempDirTest;

TEST_F(XeloFlowFileTest, SavedPacketsLoadBackAsStampedUnits) {
    Flow flow(0x10, 20250102);
    XeloFlow::Writer writer(&flow, false);
    Strings packets, want;
    for (int i = 0; i < 20; ++i) {
        packets.push_back(make_packet(i, i * 3, 0, 0));
        writer.add_packet(header(packets.back()), false);
        want.push_back(describe(make_unit(make_packet(i, i * 3, 0x10, i + 1))));
    }
    {
        XeloFlow::Saver saver(&flow, dir_.c_str(), nullptr, false, nullptr);
        EXPECT_TRUE(saver.is_open());
    }
    // The day, then each record's length and its packet, stamped, without
    // prefix.
    const std::string file_path = path("00000010.flow"), file = read_all(file_path);
    EXPECT_EQ(Base::Date::get_days(20250102), Base::load_be16(file.data()));
    EXPECT_EQ(packets[0].size(), Base::load_be32(file.data() + 2));
    EXPECT_EQ(make_packet(0, 0, 0x10, 1), file.substr(6, packets[0].size()));

    Flow copy(0x10, 20250102);
    {
        XeloFlow::Loader loader(&copy, dir_.c_str(), nullptr, nullptr);
        while (loader.invoke() == 1) {
        }
    }
    XeloFlow::Reader reader(&copy, nullptr, nullptr, nullptr);
    EXPECT_EQ(want, views(reader));

    // A byte-limited file read delivers whole units, each 6 bytes longer
    // than its record, stamped with their place in the flow.
    XeloFlow::FileReader fr(0x10, 0, file_path.c_str(), 0, nullptr);
    ASSERT_TRUE(fr.seek(5));
    unsigned short limit = 200;
    const char* data = fr.read(limit);
    ASSERT_NE(nullptr, data);
    unsigned int used = 0;
    unsigned long id = 5;
    for (; used < limit; ++id) {
        unsigned int unit = Base::load_be16(data + used + 2) + 4u;
        EXPECT_EQ(want[id], describe(data + used, unit));
        used += unit;
    }
    EXPECT_EQ(limit, used);
    EXPECT_EQ(id, fr.tell());
    EXPECT_GT(packets[id].size() + 6, 200u - limit);
}

// A receiver takes trading day 0 on an empty flow as no change and a new
// day as a successor flow; the saver restarts its file on the new day, and
// a sender gives each day's packets with their protocol header first.
TEST_F(XeloFlowFileTest, ANewTradingDayShiftsTheFlowAndRestartsTheFile) {
    Flow flow(0x11);
    XeloFlow::Receiver receiver(&flow);
    receiver.set_version(0);
    EXPECT_EQ(nullptr, flow.get_next());
    EXPECT_EQ(0u, receiver.get_version());
    receiver.set_version(20250102);
    EXPECT_EQ(nullptr, flow.get_next());
    EXPECT_EQ(XeloFlow::to_version(20250102), flow.get_version());
    EXPECT_EQ(20250102u, receiver.get_version());
    std::string p = make_packet(3, 8, 0, 0);
    receiver.write(p.data(), 0);
    XeloFlow::Saver saver(&flow, dir_.c_str(), nullptr, false, nullptr);
    EXPECT_EQ(1, saver.invoke());
    receiver.set_version(20250103);
    ASSERT_NE(nullptr, flow.get_next());
    receiver.write(p.data(), 0);
    EXPECT_EQ(1u, receiver.get_count());
    EXPECT_EQ(1, saver.invoke());
    EXPECT_EQ(0, saver.invoke());
    std::string file = read_all(path("00000011.flow"));
    ASSERT_EQ(2u + 4u + p.size(), file.size());
    EXPECT_EQ(Base::Date::get_days(20250103), Base::load_be16(file.data()));

    XeloFlow::Sender* sender = XeloFlow::Sender::create(&flow);
    for (unsigned int day : {20250102u, 20250103u}) {
        EXPECT_EQ(day, sender->get_version());
        unsigned short len = 0;
        const char* packet = sender->read(len);
        ASSERT_NE(nullptr, packet);
        EXPECT_EQ(make_packet(3, 8, 0x11, 1), std::string(packet, len));
        EXPECT_EQ(day == 20250102u, sender->available());
    }
    delete sender;
}

TEST_F(XeloFlowFileTest, DataReaderFallsBackToTheIndexedFileThroughTheRecycler) {
    Flow flow(0x12);
    XeloFlow::Writer writer(&flow, false);
    Strings want;
    for (int i = 0; i < 200; ++i) {
        writer.add_packet(header(make_packet(i, 10 + i % 50, 0, 0)), false);
        if (i >= 21) want.push_back(describe(make_unit(make_packet(i, 10 + i % 50, 0x12, i + 1))));
    }
    const std::string file_path = path("00000012.flow");
    Parallel::FlowRecycler recycler(nullptr, &flow, 10, file_path.c_str(), 4);
    { XeloFlow::Saver saver(&flow, dir_.c_str(), nullptr, false, &recycler); }
    EXPECT_EQ(50u, recycler.get_index()->get_count());

    XeloFlow::DataReader reader(&flow, nullptr, nullptr, &recycler, nullptr);
    unsigned long* cell = reader.get_iterator()->get_cell();
    ASSERT_NE(nullptr, cell);
    __atomic_store_n(cell, 150UL, __ATOMIC_RELEASE);  // as if it had read that far
    ASSERT_TRUE(reader.seek(21));
    EXPECT_TRUE(reader.is_reading_file());
    EXPECT_EQ(want, views(reader));
    EXPECT_FALSE(reader.is_reading_file());
}

TEST_F(XeloFlowFileTest, CutAtEveryByteOfTheLastRecordsLoadsOnlyCompleteOnes) {
    Flow flow(0x13);
    XeloFlow::Writer writer(&flow, false);
    std::vector<size_t> ends{2};
    for (int i = 0; i < 5; ++i) {
        std::string p = make_packet(i, 3 * i, 0, 0);
        writer.add_packet(header(p), false);
        ends.push_back(ends.back() + 4 + p.size());
    }
    { XeloFlow::Saver saver(&flow, dir_.c_str(), nullptr, false, nullptr); }
    const std::string file_path = path("00000013.flow"), full = read_all(file_path);
    ASSERT_EQ(ends.back(), full.size());
    for (size_t cut = ends[2]; cut <= full.size(); ++cut) {
        write_all(file_path, full.substr(0, cut));
        Flow copy(0x13);
        {
            XeloFlow::Loader loader(&copy, dir_.c_str(), nullptr, nullptr);
            while (loader.invoke() == 1) {
            }
        }
        size_t complete = 0;
        while (complete < 5 && ends[complete + 1] <= cut) ++complete;
        ASSERT_EQ(complete, copy.get_count()) << "cut at " << cut;
        ASSERT_EQ(ends[complete], read_all(file_path).size()) << "cut at " << cut;
    }
}

}  // namespace
