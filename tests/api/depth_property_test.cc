// Random full snapshots and incremental groups, applied by the API and by a
// plain model written here from the group tables: the cached records and the
// records reported must agree.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <random>

#include "api/md_api.h"
#include "field/xelfield.h"
#include "tests/api/dispatch_helpers.h"

namespace {

using Api::MdApi;
using Api::MdApiProbe;
typedef CTarnXeloDepthMarketDataField Depth;

struct Member {
    bool text;
    size_t offset, size;
};
#define T(name) \
    { true, offsetof(Depth, name), sizeof(Depth::name) }
#define N(name) \
    { false, offsetof(Depth, name), sizeof(Depth::name) }

// The incremental groups, in wire order, by hand.
const std::vector<Member> GROUPS[8] = {
    {T(TradingDay), T(SettlementGroupID), N(SettlementID), N(PreSettlementPrice), N(PreClosePrice),
     N(PreOpenInterest), N(PreDelta)},
    {N(OpenPrice), N(HighestPrice), N(LowestPrice), N(ClosePrice), N(UpperLimitPrice),
     N(LowerLimitPrice), N(SettlementPrice), N(CurrDelta)},
    {N(LastPrice), N(Volume), N(Turnover), N(OpenInterest)},
    {N(BidPrice1), N(BidVolume1), N(AskPrice1), N(AskVolume1)},
    {N(BidPrice2), N(BidVolume2), N(BidPrice3), N(BidVolume3)},
    {N(AskPrice2), N(AskVolume2), N(AskPrice3), N(AskVolume3)},
    {N(BidPrice4), N(BidVolume4), N(BidPrice5), N(BidVolume5)},
    {N(AskPrice4), N(AskVolume4), N(AskPrice5), N(AskVolume5)},
};
#undef T
#undef N

std::string group_wire(int g, const Depth& src) {
    std::string s;
    for (const Member& m : GROUPS[g]) {
        const char* at = reinterpret_cast<const char*>(&src) + m.offset;
        if (m.text) {
            s += wire::text(at, m.size);
            continue;
        }
        unsigned long long bits = 0;  // an int's or a double's, sent big-endian
        memcpy(&bits, at, m.size);
        for (size_t b = m.size; b-- > 0;) s += static_cast<char>(bits >> (8 * b));
    }
    return wire::field(0x2431 + static_cast<unsigned>(g), s);
}

void apply_group(int g, const Depth& src, Depth* dst) {
    for (const Member& m : GROUPS[g]) {
        char* to = reinterpret_cast<char*>(dst) + m.offset;
        memcpy(to, reinterpret_cast<const char*>(&src) + m.offset, m.size);
        if (m.text) to[m.size - 1] = 0;
    }
}

// Member by member through the record's layout; strings up to their NUL.
bool same_depth(const Depth& a, const Depth& b, std::string* diff) {
    const Base::FieldDesc& d = Field::XelDepthMarketDataField::DESC;
    for (int i = 0; i < d.member_count; ++i) {
        const Base::FieldDesc::MemberDesc* m = d.get_member_desc(i);
        const char* x = reinterpret_cast<const char*>(&a) + m->offset;
        const char* y = reinterpret_cast<const char*>(&b) + m->offset;
        bool same = m->type == TYPE_STRING ? strncmp(x, y, static_cast<size_t>(m->size)) == 0
                                           : memcmp(x, y, static_cast<size_t>(m->size)) == 0;
        if (!same) {
            *diff = m->name;
            return false;
        }
    }
    return true;
}

struct Model {
    std::map<std::pair<unsigned, std::string>, Depth> cache;
    std::vector<Depth> reported;

    Depth* select(unsigned topic, const char* instrument) {
        auto key = std::make_pair(topic, std::string(instrument).substr(0, 30));
        return &cache.emplace(key, Depth{}).first->second;
    }
};

// One group of an incremental packet, as the generator chose it.
struct Group {
    bool with_time;
    std::string instrument;
    Depth values;
    std::vector<int> fields;  // group indexes; -1 is a field the API ignores
};

class Generator {
  public:
    explicit Generator(unsigned seed) : rng_(seed) {}
    int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
    std::string instrument() {
        static const char* pool[] = {
            "cu2510", "cu2511", "ag2512", "au2512",
            "IF2509", "zn2510", "a",      "123456789012345678901234567890"};
        return pool[pick(8)];
    }
    Depth record(const std::string& instrument) {
        Depth r = {};
        char* base = reinterpret_cast<char*>(&r);
        const Base::FieldDesc& d = Field::XelDepthMarketDataField::DESC;
        for (int i = 0; i < d.member_count; ++i) {
            const Base::FieldDesc::MemberDesc* m = d.get_member_desc(i);
            char* at = base + m->offset;
            if (m->type == TYPE_STRING) {
                for (int n = pick(m->size); n > 0; --n) *at++ = static_cast<char>('0' + pick(75));
            } else if (m->size == 4) {
                int v = static_cast<int>(rng_());
                memcpy(at, &v, 4);
            } else {
                double v =
                    pick(10) == 0 ? 0.0 : std::uniform_real_distribution<double>(-1e9, 1e9)(rng_);
                memcpy(at, &v, 8);
            }
        }
        strcpy(r.InstrumentID, instrument.c_str());
        return r;
    }
    std::vector<Group> groups() {
        std::vector<Group> gs(static_cast<size_t>(1 + pick(3)));
        for (Group& g : gs) {
            g.with_time = pick(8) != 0;
            g.instrument = instrument();
            g.values = record(g.instrument);
            for (int n = pick(5); n > 0; --n) g.fields.push_back(pick(9) - 1);
        }
        return gs;
    }

  private:
    std::mt19937 rng_;
};

class DepthProperty : public ApiUnitTest {
  protected:
    void send(unsigned tid, unsigned topic, const std::string& fields) {
        feed({tid, topic, ++sequence, 'L', 0}, fields);
    }
    void full(unsigned topic, const Depth& r) {
        send(0x5803, topic, wire::depth(r));
        *model.select(topic, r.InstrumentID) = r;
        model.reported.push_back(r);
    }
    void incremental(unsigned topic, const std::vector<Group>& groups) {
        std::string fields;
        Depth* current = nullptr;
        for (const Group& g : groups) {
            const Depth& v = g.values;
            if (g.with_time) {
                fields += wire::update_time(g.instrument.c_str(), v.UpdateTime, v.UpdateMillisec,
                                            v.ActionDay);
                current = model.select(topic, g.instrument.c_str());
                strcpy(current->InstrumentID, g.instrument.substr(0, 30).c_str());
                strcpy(current->UpdateTime, v.UpdateTime);
                current->UpdateMillisec = v.UpdateMillisec;
                strcpy(current->ActionDay, v.ActionDay);
            }
            for (int f : g.fields) {
                if (f < 0) {
                    fields += wire::field(0x2440, std::string(12, '\x5a'));
                    continue;
                }
                fields += group_wire(f, v);
                if (current) apply_group(f, v, current);
            }
        }
        send(0x5902, topic, fields);
        if (!current) return;
        model.reported.push_back(*current);
        ASSERT_FALSE(spi.depth_pointers.empty());
        EXPECT_EQ(spi.depth_pointers.back(), MdApiProbe::cached(&api, topic, current->InstrumentID))
            << "an increment reports the cached record itself";
    }
    void check(const char* when) {
        ASSERT_EQ(spi.depths.size(), model.reported.size()) << when;
        std::string diff;
        for (size_t i = 0; i < spi.depths.size(); ++i)
            ASSERT_TRUE(same_depth(spi.depths[i], model.reported[i], &diff))
                << when << ": callback " << i << " differs in " << diff;
        ASSERT_EQ(MdApiProbe::cache_size(&api), model.cache.size()) << when;
        for (const auto& e : model.cache) {
            const Depth* cached = MdApiProbe::cached(&api, e.first.first, e.first.second.c_str());
            ASSERT_NE(cached, nullptr) << when << " " << e.first.second;
            ASSERT_TRUE(same_depth(*cached, e.second, &diff))
                << when << ": " << e.first.second << " differs in " << diff;
        }
    }

    Model model;
    unsigned sequence = 0;
};

TEST_F(DepthProperty, RandomStreamsAgreeWithTheModel) {
    for (unsigned seed = 11; seed < 16; ++seed) {
        Generator gen(seed);
        for (int i = 0; i < 2000; ++i) {
            const unsigned topics[] = {3, 7, 1001};
            unsigned topic = topics[gen.pick(3)];
            if (gen.pick(4) == 0)
                full(topic, gen.record(gen.instrument()));
            else
                incremental(topic, gen.groups());
        }
        check(("seed " + std::to_string(seed)).c_str());
        if (HasFatalFailure()) return;
    }
}

}  // namespace
