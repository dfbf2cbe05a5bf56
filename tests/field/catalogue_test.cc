#include <gtest/gtest.h>

#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "base/field_desc.h"
#include "base/map.h"
#include "field/orqfield.h"
#include "field/xelfield.h"
#include "network/xmp_packet.h"
#include "tests/field/random_record.h"

using namespace Field;

namespace {

using Base::FieldDesc;
using FieldTest::random_record;
using Network::XmpPacket;
using Bytes = std::vector<unsigned char>;

// The public records are the in-memory twins of the wire records.
#define SAME_LAYOUT(Name, Member)                                                                 \
    static_assert(offsetof(Xel##Name##Field, Member) == offsetof(CTarnXelo##Name##Field, Member), \
                  #Name "." #Member);                                                             \
    static_assert(sizeof(Xel##Name##Field::Member) == sizeof(CTarnXelo##Name##Field::Member),     \
                  #Name "." #Member " size")
#define SAME_SIZE(Name) \
    static_assert(sizeof(Xel##Name##Field) == sizeof(CTarnXelo##Name##Field), #Name)

SAME_SIZE(ReqUserLogin);
SAME_LAYOUT(ReqUserLogin, TradingDay);
SAME_LAYOUT(ReqUserLogin, ProtocolInfo);
SAME_LAYOUT(ReqUserLogin, DataCenterID);
SAME_SIZE(RspUserLogin);
SAME_LAYOUT(RspUserLogin, TradingSystemName);
SAME_LAYOUT(RspUserLogin, DataCenterID);
SAME_LAYOUT(RspUserLogin, PrivateFlowSize);
SAME_LAYOUT(RspUserLogin, UserFlowSize);
SAME_LAYOUT(RspUserLogin, ActionDay);
SAME_SIZE(RspInfo);
SAME_LAYOUT(RspInfo, ErrorID);
SAME_LAYOUT(RspInfo, ErrorMsg);
SAME_SIZE(ReqUserLogout);
SAME_LAYOUT(ReqUserLogout, ParticipantID);
SAME_SIZE(RspUserLogout);
SAME_LAYOUT(RspUserLogout, ParticipantID);
SAME_SIZE(UserPasswordUpdate);
SAME_LAYOUT(UserPasswordUpdate, OldPassword);
SAME_LAYOUT(UserPasswordUpdate, NewPassword);
SAME_SIZE(Dissemination);
SAME_LAYOUT(Dissemination, SequenceSeries);
SAME_LAYOUT(Dissemination, SequenceNo);
SAME_SIZE(FlowMessageCancel);
SAME_LAYOUT(FlowMessageCancel, SequenceSeries);
SAME_LAYOUT(FlowMessageCancel, TradingDay);
SAME_LAYOUT(FlowMessageCancel, DataCenterID);
SAME_LAYOUT(FlowMessageCancel, StartSequenceNo);
SAME_LAYOUT(FlowMessageCancel, EndSequenceNo);
SAME_SIZE(DepthMarketData);
SAME_LAYOUT(DepthMarketData, SettlementID);
SAME_LAYOUT(DepthMarketData, LastPrice);
SAME_LAYOUT(DepthMarketData, Volume);
SAME_LAYOUT(DepthMarketData, Turnover);
SAME_LAYOUT(DepthMarketData, CurrDelta);
SAME_LAYOUT(DepthMarketData, UpdateTime);
SAME_LAYOUT(DepthMarketData, UpdateMillisec);
SAME_LAYOUT(DepthMarketData, InstrumentID);
SAME_LAYOUT(DepthMarketData, BidPrice1);
SAME_LAYOUT(DepthMarketData, AskVolume5);
SAME_LAYOUT(DepthMarketData, ActionDay);

// Every member alike byte for byte (padding aside).
void expect_members_equal(const FieldDesc& d, const char* a, const char* b) {
    for (int i = 0; i < d.member_count; ++i) {
        const FieldDesc::MemberDesc& m = d.members[i];
        ASSERT_EQ(memcmp(a + m.offset, b + m.offset, m.size), 0) << m.name;
    }
}

unsigned long map_count(const Base::Map& map) {
    unsigned long buckets = 0, count = 0;
    map.get_size(buckets, count);
    return count;
}

struct Row {
    const char* name;
    const char* domain;
    int type;
    int size;
    int offset;
    bool key;
};

void expect_rows(const FieldDesc& d, int id, int struct_size, int stream_size,
                 const std::vector<Row>& rows) {
    SCOPED_TRACE(d.field_name);
    EXPECT_EQ(d.field_id, id);
    EXPECT_EQ(d.struct_size, struct_size);
    EXPECT_EQ(d.stream_size, stream_size);
    ASSERT_EQ(d.member_count, static_cast<int>(rows.size()));
    int stream = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const FieldDesc::MemberDesc& m = d.members[i];
        EXPECT_STREQ(m.name, rows[i].name);
        EXPECT_STREQ(m.type_name, rows[i].domain);
        EXPECT_EQ(m.type, rows[i].type) << m.name;
        EXPECT_EQ(m.size, rows[i].size) << m.name;
        EXPECT_EQ(m.element_size, rows[i].size) << m.name;
        EXPECT_EQ(m.count, 1);
        EXPECT_EQ(m.offset, rows[i].offset) << m.name;
        EXPECT_EQ(m.stream_offset, stream) << m.name;
        EXPECT_EQ(m.is_key, rows[i].key) << m.name;
        stream += m.size;
    }
}

// Records covering every member type the generator lays out, with padding
// between and after members and a key member.
TEST(XelCatalogue, TabledRecordsHaveTheirExactLayout) {
    expect_rows(XelFlowMessageCancelField::DESC, 0x3201, 24, 23,
                {{"SequenceSeries", "OrqSequenceSeriesType", TYPE_INT16, 2, 0, false},
                 {"TradingDay", "OrqDateType", TYPE_STRING, 9, 2, false},
                 {"DataCenterID", "OrqDataCenterIDType", TYPE_INT32, 4, 12, false},
                 {"StartSequenceNo", "OrqSequenceNoType", TYPE_INT32, 4, 16, false},
                 {"EndSequenceNo", "OrqSequenceNoType", TYPE_INT32, 4, 20, false}});
    expect_rows(XelUserSystemInfoField::DESC, 0x8015, 308, 305,
                {{"LocalSystemInnerInfo", "OrqSystemInfoType", TYPE_STRING, 301, 0, true},
                 {"hasAuthed", "OrqBoolType", TYPE_INT32, 4, 304, false}});
    expect_rows(XelMarketDataBaseField::DESC, 0x2431, 56, 54,
                {{"TradingDay", "OrqDateType", TYPE_STRING, 9, 0, false},
                 {"SettlementGroupID", "OrqSettlementGroupIDType", TYPE_STRING, 9, 9, false},
                 {"SettlementID", "OrqSettlementIDType", TYPE_INT32, 4, 20, false},
                 {"PreSettlementPrice", "OrqPriceType", TYPE_FIXEDPOINT3, 8, 24, false},
                 {"PreClosePrice", "OrqPriceType", TYPE_FIXEDPOINT3, 8, 32, false},
                 {"PreOpenInterest", "OrqLargeVolumeType", TYPE_FIXEDPOINT3, 8, 40, false},
                 {"PreDelta", "OrqMarketDataDeltaType", TYPE_FIXEDPOINT6, 8, 48, false}});
    const FieldDesc& dmd = XelDepthMarketDataField::DESC;
    EXPECT_TRUE(dmd.members[dmd.get_member_index("InstrumentID")].is_key);
    // The market-data record's sizes, and lookups that must miss.
    FieldDesc* by_id = get_xel_field_desc(static_cast<unsigned short>(0x2408));
    ASSERT_NE(by_id, nullptr);
    EXPECT_EQ(by_id->member_count, 43);
    EXPECT_EQ(by_id->struct_size, 368);
    EXPECT_EQ(by_id->stream_size, 319);
    EXPECT_EQ(get_xel_packet_id("NoSuchThing"), 0);
    EXPECT_EQ(get_xel_packet_id(nullptr), 0);
    EXPECT_EQ(get_xel_packet_name(0x7777), nullptr);
    EXPECT_EQ(get_xel_field_desc("XelNothingField"), nullptr);
    EXPECT_EQ(get_xel_field_desc(static_cast<unsigned short>(0x0002)), nullptr);
    // Records both schemas name alike have the same members.
    EXPECT_TRUE(FieldDesc::is_same(&OrqRspInfoField::DESC, &XelRspInfoField::DESC));
    EXPECT_TRUE(FieldDesc::is_same(&OrqDepthMarketDataField::DESC, &XelDepthMarketDataField::DESC));
    EXPECT_TRUE(FieldDesc::is_same(&OrqUserSystemInfoField::DESC, &XelUserSystemInfoField::DESC));
}

TEST(XelCatalogue, GeneratedCodersAgreeWithTheGenericOnes) {
    std::mt19937_64 rng(2024);
    for (const auto& entry : g_xel_field_list) {
        const FieldDesc& d = *entry.desc;
        SCOPED_TRACE(d.field_name);
        std::vector<char> record;
        for (int iter = 0; iter < 20; ++iter) {
            random_record(d, record, rng);
            int lengths[] = {d.struct_size, static_cast<int>(rng() % (d.struct_size + 8))};
            for (int length : lengths) {
                Bytes a(d.stream_size, 0xA5), b(d.stream_size, 0xA5);
                entry.to_stream(record.data(), a.data(), length);
                XmpPacket::to_stream(&d, record.data(), b.data(), length);
                ASSERT_EQ(a, b) << "to_stream length " << length;
            }
            Bytes wire(d.stream_size);
            entry.to_stream(record.data(), wire.data(), d.struct_size);
            int cuts[] = {d.stream_size, static_cast<int>(rng() % (d.stream_size + 8))};
            for (int length : cuts) {
                Bytes padded(wire);
                padded.resize(d.stream_size + 8, 0x5A);  // a longer peer's extra bytes
                for (bool keep : {false, true}) {
                    std::vector<char> a(d.struct_size, 0x3C), b(d.struct_size, 0x3C);
                    int ra = entry.from_stream(a.data(), padded.data(), length, keep);
                    int rb = XmpPacket::from_stream(&d, b.data(), padded.data(), length, keep);
                    ASSERT_EQ(ra, rb) << "from_stream length " << length;
                    ASSERT_EQ(a, b) << "from_stream length " << length;
                }
            }
            std::vector<char> back(d.struct_size, 0);
            ASSERT_EQ(entry.from_stream(back.data(), wire.data(), d.stream_size, false),
                      d.member_count);
            ASSERT_TRUE(d.equal_field(record.data(), back.data()));
            expect_members_equal(d, record.data(), back.data());
        }
    }
}

TEST(OrqCatalogue, GeneratedConvertersAgreeWithTheGenericOnes) {
    std::mt19937_64 rng(99);
    for (const auto& entry : g_orq_field_list) {
        const FieldDesc& d = *entry.desc;
        SCOPED_TRACE(d.field_name);
        std::vector<char> record;
        for (int iter = 0; iter < 10; ++iter) {
            random_record(d, record, rng);
            int lengths[] = {d.struct_size, static_cast<int>(rng() % (d.struct_size + 8))};
            for (int length : lengths) {
                std::vector<char> a(d.struct_size, 0x3C), b(a), c(a), e(a);
                entry.to_struct(record.data(), a.data(), length);
                XmpPacket::to_struct(&d, record.data(), b.data(), length);
                ASSERT_EQ(a, b) << "to_struct length " << length;
                int rc = entry.from_struct(c.data(), a.data(), length);
                ASSERT_EQ(rc, XmpPacket::from_struct(&d, e.data(), a.data(), length)) << length;
                ASSERT_EQ(c, e) << "from_struct length " << length;
                if (length == d.struct_size) {
                    ASSERT_EQ(rc, d.member_count);
                    expect_members_equal(d, record.data(), c.data());
                }
            }
        }
    }
}

TEST(XelCatalogue, DecodesOlderAndNewerPeers) {
    XelMarketDataLastMatchField r = {}, back;
    r.LastPrice = 4500500;
    r.Volume = 12;
    r.Turnover = 77;
    r.OpenInterest = 9;
    unsigned char wire[64];
    XelMarketDataLastMatchField::to_stream(&r, wire, sizeof r);
    memset(&back, 0x77, sizeof back);
    // An older peer sent only price and volume.
    EXPECT_EQ(XelMarketDataLastMatchField::from_stream(&back, wire, 12, false), 2);
    EXPECT_TRUE(back.LastPrice == 4500500 && back.Volume == 12 && back.Turnover == 0 &&
                back.OpenInterest == 0);
    EXPECT_EQ(XelMarketDataLastMatchField::from_stream(&back, wire, 40, false), 4);
    EXPECT_EQ(back.OpenInterest, 9);
}

TEST(XelCatalogue, SavedCatalogueLoadsTheSame) {
    std::string path = ::testing::TempDir() + "xel_catalogue.bin";
    ASSERT_TRUE(save_xel_field(path.c_str()));
    std::vector<std::pair<int, std::string>> packets;
    Base::Map::Iterator it(&g_all_xel_packet_map, nullptr, true);
    while (auto* node = static_cast<Base::Map::Node*>(it.next())) {
        unsigned short tid;
        memcpy(&tid, node->key, 2);
        packets.emplace_back(tid, static_cast<const char*>(node->value));
    }
    ASSERT_EQ(packets.size(), 142u);

    ASSERT_TRUE(load_xel_field(path.c_str()));
    EXPECT_EQ(map_count(g_all_xel_field_map), 113u);
    for (const auto& entry : g_xel_field_list) {
        FieldDesc* loaded = get_xel_field_desc(entry.desc->field_id);
        ASSERT_NE(loaded, nullptr) << entry.desc->field_name;
        EXPECT_NE(loaded, entry.desc);
        EXPECT_TRUE(FieldDesc::is_same(loaded, entry.desc)) << entry.desc->field_name;
        EXPECT_EQ(loaded, get_xel_field_desc(entry.desc->field_name));
        EXPECT_EQ(loaded->struct_size, entry.desc->struct_size);
        EXPECT_EQ(loaded->stream_size, entry.desc->stream_size);
    }
    EXPECT_EQ(map_count(g_all_xel_packet_map), 142u);
    for (const auto& p : packets) {
        EXPECT_STREQ(get_xel_packet_name(static_cast<unsigned short>(p.first)), p.second.c_str());
        EXPECT_EQ(get_xel_packet_id(p.second.c_str()), p.first);
    }
    // A truncated file fails but keeps what it read.
    FILE* f = fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), 5000), 0);
    fclose(f);
    EXPECT_FALSE(load_xel_field(path.c_str()));
    EXPECT_GT(map_count(g_all_xel_field_map), 0u);
    EXPECT_LT(map_count(g_all_xel_field_map), 113u);
    EXPECT_FALSE(load_xel_field((path + ".missing").c_str()));
    // Put the built-in descriptors back for whatever runs next.
    Base::Map* maps[] = {&g_all_xel_name_map, &g_all_xel_field_map};
    for (Base::Map* m : maps) m->clear();
    for (const auto& entry : g_xel_field_list) {
        unsigned short id = entry.desc->field_id;
        g_all_xel_field_map.insert(&id, entry.desc);
        g_all_xel_name_map.insert(entry.desc->field_name, entry.desc);
    }
    remove(path.c_str());

    // The other catalogue saves and loads on its own, leaving this one alone.
    ASSERT_TRUE(save_orq_field(path.c_str()));
    ASSERT_TRUE(load_orq_field(path.c_str()));
    for (const auto& entry : g_orq_field_list) {
        FieldDesc* loaded = get_orq_field_desc(entry.desc->field_id);
        ASSERT_NE(loaded, nullptr) << entry.desc->field_name;
        EXPECT_TRUE(FieldDesc::is_same(loaded, entry.desc)) << entry.desc->field_name;
        EXPECT_EQ(loaded, get_orq_field_desc(entry.desc->field_name));
    }
    EXPECT_EQ(get_orq_packet_id("DbClrGeneralTable"), 0xF00B);
    EXPECT_EQ(get_xel_field_desc(static_cast<unsigned short>(0x2408)),
              &XelDepthMarketDataField::DESC);
    remove(path.c_str());
}

}  // namespace
