#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "api/TarnXeloMduserApi.h"
#include "base/field_desc.h"
#include "base/map.h"
#include "field/orqfield.h"
#include "field/xelfield.h"
#include "network/xmp_packet.h"
#include "tests/test_table.h"

using namespace Field;

namespace {

using Base::FieldDesc;
using Network::XmpPacket;
using Bytes = std::vector<unsigned char>;

// The public records are the in-memory twins of the wire records: each member
// listed (the last one always) at the same offset with the same size.
#define SAME(Name, Member)                                                             \
    (offsetof(Xel##Name##Field, Member) == offsetof(CTarnXelo##Name##Field, Member) && \
     sizeof(Xel##Name##Field::Member) == sizeof(CTarnXelo##Name##Field::Member))
static_assert(SAME(ReqUserLogin, TradingDay) && SAME(ReqUserLogin, ProtocolInfo) &&
                  SAME(ReqUserLogin, DataCenterID) && SAME(RspUserLogin, TradingSystemName) &&
                  SAME(RspUserLogin, DataCenterID) && SAME(RspUserLogin, PrivateFlowSize) &&
                  SAME(RspUserLogin, UserFlowSize) && SAME(RspUserLogin, ActionDay) &&
                  SAME(RspInfo, ErrorID) && SAME(RspInfo, ErrorMsg) &&
                  SAME(ReqUserLogout, ParticipantID) && SAME(RspUserLogout, ParticipantID) &&
                  SAME(UserPasswordUpdate, OldPassword) && SAME(UserPasswordUpdate, NewPassword) &&
                  SAME(Dissemination, SequenceSeries) && SAME(Dissemination, SequenceNo) &&
                  SAME(FlowMessageCancel, SequenceSeries) && SAME(FlowMessageCancel, TradingDay) &&
                  SAME(FlowMessageCancel, DataCenterID) &&
                  SAME(FlowMessageCancel, StartSequenceNo) &&
                  SAME(FlowMessageCancel, EndSequenceNo) && SAME(DepthMarketData, SettlementID) &&
                  SAME(DepthMarketData, LastPrice) && SAME(DepthMarketData, Volume) &&
                  SAME(DepthMarketData, Turnover) && SAME(DepthMarketData, CurrDelta) &&
                  SAME(DepthMarketData, UpdateTime) && SAME(DepthMarketData, UpdateMillisec) &&
                  SAME(DepthMarketData, InstrumentID) && SAME(DepthMarketData, BidPrice1) &&
                  SAME(DepthMarketData, AskVolume5) && SAME(DepthMarketData, ActionDay),
              "a public record differs from its wire record");

// A record with plausible values: strings NUL-terminated at random lengths,
// numbers random, doubles finite, fixed point null or within +-4e9 units,
// where the trip through a double and back (1e-9 away from zero, truncated)
// is exact.
void random_record(const FieldDesc& d, std::vector<char>& record, std::mt19937_64& rng) {
    record.assign(d.struct_size, 0);
    for (int i = 0; i < d.member_count; ++i) {
        const FieldDesc::MemberDesc& m = d.members[i];
        char* p = record.data() + m.offset;
        if (m.type == TYPE_STRING) {
            int n = static_cast<int>(rng() % m.size);
            for (int k = 0; k < n; ++k) p[k] = static_cast<char>('!' + rng() % 90);
        } else if (Base::is_fixed_point(m.type)) {
            int64_t v = rng() % 8 == 0 ? INT64_MAX
                                       : static_cast<int64_t>(rng() % 8000000000ull) - 4000000000ll;
            memcpy(p, &v, 8);
        } else if (m.type == TYPE_FLOAT64) {
            double v = static_cast<double>(static_cast<int64_t>(rng())) / 1e6;
            memcpy(p, &v, 8);
        } else {
            uint64_t v = rng();
            memcpy(p, &v, static_cast<size_t>(m.size));
        }
    }
}

unsigned long map_count(const Base::Map& map) {
    unsigned long buckets = 0, count = 0;
    map.get_size(buckets, count);
    return count;
}

// A record as "id, member count, struct/stream sizes", then per member "name domain TYPE
// size@offset"
// (" key" for keys). Members are single elements packed back to back on the wire.
std::vector<std::string> layout(const FieldDesc& d) {
    char head[64];
    snprintf(head, sizeof head, "0x%04X %d members %d/%d bytes", d.field_id, d.member_count,
             d.struct_size, d.stream_size);
    std::vector<std::string> out{head};
    int stream = 0;
    for (int i = 0; i < d.member_count; ++i) {
        const FieldDesc::MemberDesc& m = d.members[i];
        EXPECT_TRUE(m.element_size == m.size && m.count == 1 && m.stream_offset == stream)
            << m.name;
        stream += m.size;
        out.push_back(std::string(m.name) + " " + m.type_name + " " + Base::DATA_TYPE_NAME[m.type] +
                      " " + std::to_string(m.size) + "@" + std::to_string(m.offset) +
                      (m.is_key ? " key" : ""));
    }
    return out;
}

const char* kTable = "field/catalogue.data";

// The tabled records' layouts, as far as the table lists them; the
// market-data record's key; lookups of nothing; records both schemas name
// alike have the same members.
TEST(XelCatalogue, TabledRecordsHaveTheirExactLayout) {
    std::map<std::string, std::vector<std::string>> listed;
    std::string record;
    for (const TestTable::Row& r : TestTable::read(kTable)) {
        if (r[0] == "record") listed[record = r[1]].push_back(r[2]);
        if (r[0] == "member") listed[record].push_back(r[1]);
    }
    EXPECT_EQ(listed.size(), 4u);
    for (const auto& [name, lines] : listed) {
        const FieldDesc* d = get_xel_field_desc(name.c_str());
        ASSERT_NE(d, nullptr) << name;
        std::vector<std::string> all = layout(*d);
        all.resize(std::min(all.size(), lines.size()));
        EXPECT_EQ(all, lines) << name;
    }
    const FieldDesc& dmd = XelDepthMarketDataField::DESC;
    EXPECT_TRUE(dmd.members[dmd.get_member_index("InstrumentID")].is_key);
    EXPECT_EQ(get_xel_packet_id(nullptr), 0);
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
            Bytes wire;  // ends as the whole record
            for (int length : {int(rng() % (d.struct_size + 8)), int(d.struct_size)}) {
                Bytes b(d.stream_size, 0xA5);
                wire.assign(d.stream_size, 0xA5);
                entry.to_stream(record.data(), wire.data(), length);
                XmpPacket::to_stream(&d, record.data(), b.data(), length);
                ASSERT_EQ(wire, b) << "to_stream length " << length;
            }
            wire.resize(d.stream_size + 8, 0x5A);  // a longer peer's extra bytes
            for (int length : {int(d.stream_size), int(rng() % (d.stream_size + 8))}) {
                for (bool keep : {false, true}) {
                    std::vector<char> a(d.struct_size, 0x3C), b(d.struct_size, 0x3C);
                    int ra = entry.from_stream(a.data(), wire.data(), length, keep);
                    int rb = XmpPacket::from_stream(&d, b.data(), wire.data(), length, keep);
                    ASSERT_EQ(ra, rb) << "from_stream length " << length;
                    ASSERT_EQ(a, b) << "from_stream length " << length;
                }
            }
            std::vector<char> back(d.struct_size, 0);
            ASSERT_TRUE(entry.from_stream(back.data(), wire.data(), d.stream_size, false) ==
                            d.member_count &&
                        d.equal_field(record.data(), back.data()));
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
                ASSERT_TRUE(length != d.struct_size ||
                            (rc == d.member_count && d.equal_field(record.data(), c.data())));
            }
        }
    }
}

// One catalogue's tables and lookups; both are generated alike, prefixed xel
// or orq.
struct Catalogue {
    Base::Map* packet_map;       // tid -> name
    Base::Map* packet_name_map;  // name -> tid
    FieldDesc* (*field_by_name)(const char*);
    FieldDesc* (*field_by_id)(unsigned short);
    const char* (*packet_name)(unsigned short);
    unsigned short (*packet_id)(const char*);
};
#define CATALOGUE(p)                                                                 \
    Catalogue {                                                                      \
        &g_all_##p##_packet_map, &g_all_##p##_packet_name_map, get_##p##_field_desc, \
            get_##p##_field_desc, get_##p##_packet_name, get_##p##_packet_id         \
    }

// Every built-in record is found by id and by name (the descriptor itself, or
// after a load an equal copy), every transaction by tid and by name, and no
// name is without its tid. Collects the transactions.
template <typename Entry, size_t N>
void expect_lookups(const Entry (&list)[N], const Catalogue& c, bool loaded,
                    std::map<int, std::string>& packets) {
    for (const Entry& e : list) {
        FieldDesc* d = e.desc;
        FieldDesc* found = c.field_by_id(d->field_id);
        ASSERT_NE(found, nullptr) << d->field_name;
        EXPECT_EQ(found != d, loaded) << d->field_name;
        EXPECT_TRUE(FieldDesc::is_same(found, d) && found->struct_size == d->struct_size &&
                    found->stream_size == d->stream_size)
            << d->field_name;
        EXPECT_EQ(c.field_by_name(d->field_name), found) << d->field_name;
    }
    Base::Map::Iterator it(c.packet_map, nullptr, true);
    while (auto* node = static_cast<Base::Map::Node*>(it.next())) {
        unsigned short tid;
        memcpy(&tid, node->key, sizeof tid);
        const char* name = static_cast<const char*>(node->value);
        EXPECT_STREQ(c.packet_name(tid), name);
        EXPECT_EQ(c.packet_id(name), tid) << name;
        packets[tid] = name;
    }
    EXPECT_EQ(packets.size(), map_count(*c.packet_name_map));
}

std::string name_of(const FieldDesc* d) {
    return d ? d->field_name : "(none)";
}

// The records and transactions the table lists are found by id and by name
// in their catalogue; the misses it lists find nothing.
TEST(CatalogueNames, WellKnownIds) {
    for (const char* kind : {"field", "packet", "no-field", "no-packet"}) {
        for (const TestTable::Row& r : TestTable::read(kTable, kind)) {
            SCOPED_TRACE(TestTable::where(kTable, r));
            const Catalogue c = r[1] == "xel" ? CATALOGUE(xel) : CATALOGUE(orq);
            const bool by_id = r[2].compare(0, 2, "0x") == 0;
            const auto id = static_cast<unsigned short>(by_id ? std::stoi(r[2], nullptr, 16) : 0);
            if (r[0] == "field") {
                EXPECT_EQ(name_of(c.field_by_id(id)), r[3]);
                const FieldDesc* d = c.field_by_name(r[3].c_str());
                EXPECT_TRUE(d != nullptr && d->field_id == id);
            } else if (r[0] == "packet") {
                EXPECT_STREQ(c.packet_name(id), r[3].c_str());
                EXPECT_EQ(c.packet_id(r[3].c_str()), id);
            } else if (r[0] == "no-field") {
                EXPECT_EQ(by_id ? c.field_by_id(id) : c.field_by_name(r[2].c_str()), nullptr);
            } else {
                EXPECT_TRUE(by_id ? c.packet_name(id) == nullptr : c.packet_id(r[2].c_str()) == 0);
            }
        }
    }
}

// Built in, and saved and loaded again; each catalogue on its own.
TEST(Catalogue, LookupsWorkBothWaysBuiltInAndAfterSaveAndLoad) {
    std::string path = ::testing::TempDir() + "catalogue.bin";
    std::map<int, std::string> xel, orq, loaded;
    expect_lookups(g_orq_field_list, CATALOGUE(orq), false, orq);
    expect_lookups(g_xel_field_list, CATALOGUE(xel), false, xel);
    ASSERT_EQ(xel.size(), 142u);
    ASSERT_TRUE(save_xel_field(path.c_str()));
    ASSERT_TRUE(load_xel_field(path.c_str()));
    EXPECT_EQ(map_count(g_all_xel_field_map), 113u);
    expect_lookups(g_xel_field_list, CATALOGUE(xel), true, loaded);
    EXPECT_EQ(loaded, xel);
    const FieldDesc* xel_dmd = get_xel_field_desc(static_cast<unsigned short>(0x2408));
    loaded.clear();
    ASSERT_TRUE(save_orq_field(path.c_str()));
    ASSERT_TRUE(load_orq_field(path.c_str()));
    expect_lookups(g_orq_field_list, CATALOGUE(orq), true, loaded);
    EXPECT_EQ(loaded, orq);
    EXPECT_EQ(get_xel_field_desc(static_cast<unsigned short>(0x2408)), xel_dmd);
    // A truncated file fails but keeps what it read.
    ASSERT_TRUE(save_xel_field(path.c_str()));
    ASSERT_EQ(truncate(path.c_str(), 5000), 0);
    EXPECT_FALSE(load_xel_field(path.c_str()));
    EXPECT_GT(map_count(g_all_xel_field_map), 0u);
    EXPECT_LT(map_count(g_all_xel_field_map), 113u);
    EXPECT_FALSE(load_xel_field((path + ".missing").c_str()));
    remove(path.c_str());
}

// The generator refuses malformed schemas with a message naming the line,
// instead of writing code that does not compile.
TEST(CatalogueGenerator, AcceptsAWellFormedSchemaAndRefusesMalformedOnes) {
    const std::string generate =
        "python3 " XELMD_SOURCE_DIR "/field/gen_catalogue.py --stats --schema ";
    for (const TestTable::Row& r : TestTable::read(kTable, "schema")) {
        SCOPED_TRACE(TestTable::where(kTable, r));
        std::string schema = r[2], said = r[3];
        std::replace(schema.begin(), schema.end(), '|', '\n');
        for (size_t i = 4; i < r.size(); ++i) said += ":" + r[i];
        // A file of its own: ctest runs these cases in parallel processes.
        std::string path = ::testing::TempDir() + "bad_XXXXXX.schema";
        int fd = mkstemps(&path[0], 7);
        ASSERT_TRUE(fd >= 0 && write(fd, schema.data(), schema.size()) == ssize_t(schema.size()));
        close(fd);
        FILE* p = popen((generate + path + " 2>&1").c_str(), "r");
        std::string output;
        char buf[512];
        while (fgets(buf, sizeof buf, p)) output += buf;
        EXPECT_EQ(pclose(p) == 0, r[1] == "accepted") << output;
        EXPECT_NE(output.find(said), std::string::npos) << output;
        remove(path.c_str());
    }
}

}  // namespace
