#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

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

unsigned long map_count(const Base::Map& map) {
    unsigned long buckets = 0, count = 0;
    map.get_size(buckets, count);
    return count;
}

TEST(OrqCatalogue, HoldsEveryRecordAndTransaction) {
    EXPECT_EQ(ORQ_FIELD_COUNT, 232);
    EXPECT_EQ(map_count(g_all_orq_name_map), 232u);
    EXPECT_EQ(map_count(g_all_orq_field_map), 232u);
    EXPECT_EQ(map_count(g_all_orq_packet_map), 292u);
    EXPECT_EQ(map_count(g_all_orq_packet_name_map), 292u);
}

TEST(OrqCatalogue, EachSchemaKeepsItsOwnNames) {
    EXPECT_STREQ(get_orq_packet_name(0x4017), "ReqQryCombOrder");
    EXPECT_STREQ(get_xel_packet_name(0x4017), "ReqQryCreditLimit");
    EXPECT_STREQ(get_orq_packet_name(0x5001), "NtfTimeSync");
    EXPECT_STREQ(get_xel_packet_name(0x5001), "RtnTrade");
    EXPECT_EQ(get_orq_packet_id("NtfTimeSync"), 0x5001);
    EXPECT_EQ(get_orq_packet_id("RtnTrade"), 0);
    EXPECT_EQ(get_orq_packet_id("Nop"), 0x0009);
    EXPECT_EQ(get_orq_packet_name(0x1F01), nullptr);
    EXPECT_EQ(get_orq_field_desc("XelRspInfoField"), nullptr);
    FieldDesc* info = get_orq_field_desc("OrqRspInfoField");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info, get_orq_field_desc(static_cast<unsigned short>(0x0003)));
    EXPECT_EQ(get_orq_field_desc(static_cast<unsigned short>(0x0000)), &OrqDbOTCOrderField::DESC);
}

TEST(OrqCatalogue, SharedNamesShareMembers) {
    EXPECT_TRUE(FieldDesc::is_same(&OrqRspInfoField::DESC, &XelRspInfoField::DESC));
    EXPECT_TRUE(FieldDesc::is_same(&OrqDepthMarketDataField::DESC, &XelDepthMarketDataField::DESC));
    EXPECT_TRUE(FieldDesc::is_same(&OrqUserSystemInfoField::DESC, &XelUserSystemInfoField::DESC));
    EXPECT_EQ(OrqDepthMarketDataField::DESC.field_id, 0x2409);
    EXPECT_EQ(sizeof(OrqDepthMarketDataField), 368u);
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
                std::vector<char> a(d.struct_size, 0x3C), b(d.struct_size, 0x3C);
                entry.to_struct(record.data(), a.data(), length);
                XmpPacket::to_struct(&d, record.data(), b.data(), length);
                ASSERT_EQ(a, b) << "to_struct length " << length;
                std::vector<char> c(d.struct_size, 0x3C), e(d.struct_size, 0x3C);
                int rc = entry.from_struct(c.data(), a.data(), length);
                int re = XmpPacket::from_struct(&d, e.data(), a.data(), length);
                ASSERT_EQ(rc, re) << "from_struct length " << length;
                ASSERT_EQ(c, e) << "from_struct length " << length;
                if (length == d.struct_size) {
                    ASSERT_EQ(rc, d.member_count);
                    for (int i = 0; i < d.member_count; ++i) {
                        const FieldDesc::MemberDesc& m = d.members[i];
                        ASSERT_EQ(memcmp(record.data() + m.offset, c.data() + m.offset, m.size), 0)
                            << m.name;
                    }
                }
            }
        }
    }
}

TEST(OrqCatalogue, SavedCatalogueLoadsTheSame) {
    std::string path = ::testing::TempDir() + "orq_catalogue.bin";
    ASSERT_TRUE(save_orq_field(path.c_str()));
    ASSERT_TRUE(load_orq_field(path.c_str()));
    EXPECT_EQ(map_count(g_all_orq_field_map), 232u);
    EXPECT_EQ(map_count(g_all_orq_packet_map), 292u);
    for (const auto& entry : g_orq_field_list) {
        FieldDesc* loaded = get_orq_field_desc(entry.desc->field_id);
        ASSERT_NE(loaded, nullptr) << entry.desc->field_name;
        EXPECT_TRUE(FieldDesc::is_same(loaded, entry.desc)) << entry.desc->field_name;
        EXPECT_EQ(loaded, get_orq_field_desc(entry.desc->field_name));
    }
    EXPECT_STREQ(get_orq_packet_name(0x4017), "ReqQryCombOrder");
    EXPECT_EQ(get_orq_packet_id("DbClrGeneralTable"), 0xF00B);
    // The other catalogue is untouched by this one's load.
    EXPECT_EQ(get_xel_field_desc(static_cast<unsigned short>(0x2408)),
              &XelDepthMarketDataField::DESC);
    remove(path.c_str());
}

}  // namespace
