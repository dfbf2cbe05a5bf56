// The lookup tables of both catalogues agree with the generated lists in
// both directions, and the ids the API depends on name what it expects.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/field_desc.h"
#include "base/map.h"
#include "field/orqfield.h"
#include "field/xelfield.h"

using namespace Field;

namespace {

struct Catalogue {
    const char* name;
    std::vector<Base::FieldDesc*> fields;  // every record descriptor, in generated order
    Base::Map* packet_map;                 // tid -> name
    Base::Map* packet_name_map;            // name -> tid
    Base::FieldDesc* (*field_by_name)(const char*);
    Base::FieldDesc* (*field_by_id)(unsigned short);
    const char* (*packet_name)(unsigned short);
    unsigned short (*packet_id)(const char*);
};

template <typename Entry, size_t N>
std::vector<Base::FieldDesc*> descs(const Entry (&list)[N]) {
    std::vector<Base::FieldDesc*> out;
    for (const Entry& e : list) out.push_back(e.desc);
    return out;
}

// Both catalogues name their tables and lookups alike, prefixed xel or orq.
#define CATALOGUE(p)                                                                               \
    Catalogue {                                                                                    \
#p, descs(g_##p##_field_list), &g_all_##p##_packet_map, &g_all_##p##_packet_name_map,      \
            get_##p##_field_desc, get_##p##_field_desc, get_##p##_packet_name, get_##p##_packet_id \
    }

TEST(CatalogueNames, EveryRecordIsFoundByIdAndByName) {
    for (const Catalogue& c : {CATALOGUE(xel), CATALOGUE(orq)}) {
        SCOPED_TRACE(c.name);
        for (Base::FieldDesc* d : c.fields) {
            EXPECT_EQ(c.field_by_id(d->field_id), d) << d->field_name;
            EXPECT_EQ(c.field_by_name(d->field_name), d) << d->field_name;
        }
    }
}

TEST(CatalogueNames, EveryTransactionIsFoundByTidAndByName) {
    for (const Catalogue& c : {CATALOGUE(xel), CATALOGUE(orq)}) {
        SCOPED_TRACE(c.name);
        unsigned long seen = 0;
        Base::Map::Iterator it(c.packet_map, nullptr, true);
        while (auto* node = static_cast<Base::Map::Node*>(it.next())) {
            unsigned short tid;
            memcpy(&tid, node->key, sizeof tid);
            const char* name = static_cast<const char*>(node->value);
            EXPECT_STREQ(c.packet_name(tid), name);
            EXPECT_EQ(c.packet_id(name), tid) << name;
            ++seen;
        }
        // No name without its tid.
        unsigned long buckets = 0, names = 0;
        c.packet_name_map->get_size(buckets, names);
        EXPECT_EQ(seen, names);
        EXPECT_GT(seen, 100u);
    }
}

// The records and transactions the API sends and dispatches.
TEST(CatalogueNames, WellKnownIds) {
    const struct {
        unsigned short id;
        const char* name;
    } fields[] = {{0x0001, "XelDisseminationField"},   {0x0003, "XelRspInfoField"},
                  {0x000A, "XelReqUserLoginField"},    {0x000B, "XelRspUserLoginField"},
                  {0x000C, "XelReqUserLogoutField"},   {0x0032, "XelUserPasswordUpdateField"},
                  {0x2408, "XelDepthMarketDataField"}, {0x3201, "XelFlowMessageCancelField"}},
      packets[] = {{0x0001, "RspError"},
                   {0x1001, "ReqUserLogin"},
                   {0x1002, "RspUserLogin"},
                   {0x1003, "ReqUserLogout"},
                   {0x100F, "ReqUserPasswordUpdate"},
                   {0x1F01, "ReqSubscribeTopic"},
                   {0x1F02, "RspSubscribeTopic"},
                   {0x4201, "ReqQryTopic"},
                   {0x4202, "RspQryTopic"},
                   {0x5201, "RtnFlowMessageCancel"},
                   {0x5803, "RtnDepthMarketData"}};
    for (const auto& f : fields) {
        Base::FieldDesc* d = get_xel_field_desc(f.id);
        ASSERT_NE(d, nullptr) << f.name;
        EXPECT_STREQ(d->field_name, f.name);
    }
    for (const auto& p : packets) EXPECT_STREQ(get_xel_packet_name(p.id), p.name);
    // The second catalogue keeps its own numbering and names.
    EXPECT_EQ(get_orq_field_desc("OrqDepthMarketDataField")->field_id, 0x2409);
    EXPECT_EQ(get_orq_field_desc(static_cast<unsigned short>(0x0000)), &OrqDbOTCOrderField::DESC);
    EXPECT_EQ(get_orq_packet_id("Nop"), 0x0009);
    EXPECT_STREQ(get_orq_packet_name(0x4017), "ReqQryCombOrder");
    EXPECT_STREQ(get_xel_packet_name(0x4017), "ReqQryCreditLimit");
    EXPECT_STREQ(get_orq_packet_name(0x5001), "NtfTimeSync");
    EXPECT_STREQ(get_xel_packet_name(0x5001), "RtnTrade");
    EXPECT_EQ(get_orq_packet_id("RtnTrade"), 0);
    EXPECT_EQ(get_orq_packet_name(0x1F01), nullptr);
    EXPECT_EQ(get_orq_field_desc("XelRspInfoField"), nullptr);
}

}  // namespace
