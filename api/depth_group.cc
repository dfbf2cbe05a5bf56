#include "api/depth_group.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/field_desc.h"
#include "field/xelfield.h"

namespace Api {

namespace {

void copy_text(char* dst, const char* src, size_t size) {
    size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    memset(dst + n, 0, size - n);
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "first zero byte found from the low end");

// copy_text for a 9-byte member, in one word: the 8 bytes up to the first
// zero, zero behind them.
void copy_text9(char* dst, const char* src) {
    uint64_t w;
    memcpy(&w, src, 8);
    // The lowest flagged byte is the first zero byte of the word.
    uint64_t zero = (w - 0x0101010101010101ull) & ~w & 0x8080808080808080ull;
    if (zero != 0) w &= (1ull << (__builtin_ctzll(zero) & ~7)) - 1;
    memcpy(dst, &w, 8);
    dst[8] = 0;
}

DepthGroup make_group(const Base::FieldDesc& desc, Network::XeloPacket::FromStream from_stream) {
    const Base::FieldDesc& depth = Field::XelDepthMarketDataField::DESC;
    DepthGroup group = {};
    group.field_id = desc.field_id;
    group.from_stream = from_stream;
    for (int i = 0; i < desc.member_count && group.count < DepthGroup::MAX_MEMBERS; ++i) {
        const Base::FieldDesc::MemberDesc* m = desc.get_member_desc(i);
        int j = depth.get_member_index(m->name);
        if (j < 0) continue;
        const Base::FieldDesc::MemberDesc* d = depth.get_member_desc(j);
        if (d->size != m->size) continue;
        DepthGroup::Copy& c = group.copies[group.count++];
        c.from = static_cast<unsigned short>(m->offset);
        c.to = static_cast<unsigned short>(d->offset);
        c.size = static_cast<unsigned short>(m->size);
        c.text = m->type == TYPE_STRING;
    }
    auto rank = [](const DepthGroup::Copy& c) {
        return c.text ? 2 : c.size == 8 ? 0 : c.size == 4 ? 1 : 2;
    };
    std::stable_sort(
        group.copies, group.copies + group.count,
        [&](const DepthGroup::Copy& a, const DepthGroup::Copy& b) { return rank(a) < rank(b); });
    for (int i = 0; i < group.count; ++i) {
        if (rank(group.copies[i]) == 0) ++group.wide;
        if (rank(group.copies[i]) == 1) ++group.narrow;
    }
    return group;
}

struct DepthGroups {
    DepthGroup groups[DepthGroup::COUNT];
    DepthGroups() {
        using namespace Field;
        groups[0] = make_group(XelMarketDataBaseField::DESC, &XelMarketDataBaseField::from_stream);
        groups[1] =
            make_group(XelMarketDataStaticField::DESC, &XelMarketDataStaticField::from_stream);
        groups[2] = make_group(XelMarketDataLastMatchField::DESC,
                               &XelMarketDataLastMatchField::from_stream);
        groups[3] = make_group(XelMarketDataBestPriceField::DESC,
                               &XelMarketDataBestPriceField::from_stream);
        groups[4] =
            make_group(XelMarketDataBid23Field::DESC, &XelMarketDataBid23Field::from_stream);
        groups[5] =
            make_group(XelMarketDataAsk23Field::DESC, &XelMarketDataAsk23Field::from_stream);
        groups[6] =
            make_group(XelMarketDataBid45Field::DESC, &XelMarketDataBid45Field::from_stream);
        groups[7] =
            make_group(XelMarketDataAsk45Field::DESC, &XelMarketDataAsk45Field::from_stream);
    }
};

}  // namespace

const DepthGroup* get_depth_groups() {
    static const DepthGroups tables;  // after the descriptors, built on first use
    return tables.groups;
}

void apply_depth_group(CTarnXeloDepthMarketDataField* record, const DepthGroup& group,
                       const void* decoded) {
    char* to = reinterpret_cast<char*>(record);
    const char* from = static_cast<const char*>(decoded);
    int i = 0;
    for (; i < group.wide; ++i) {
        const DepthGroup::Copy& c = group.copies[i];
        memcpy(to + c.to, from + c.from, 8);
    }
    for (; i < group.wide + group.narrow; ++i) {
        const DepthGroup::Copy& c = group.copies[i];
        memcpy(to + c.to, from + c.from, 4);
    }
    for (; i < group.count; ++i) {
        const DepthGroup::Copy& c = group.copies[i];
        if (c.text)
            copy_text(to + c.to, from + c.from, c.size);
        else
            memcpy(to + c.to, from + c.from, c.size);
    }
}

void apply_update_time(CTarnXeloDepthMarketDataField* record,
                       const Field::XelMarketDataUpdateTimeField* time, const char* instrument) {
    memcpy(record->InstrumentID, instrument, sizeof record->InstrumentID);
    copy_text9(record->UpdateTime, time->UpdateTime);
    record->UpdateMillisec = time->UpdateMillisec;
    copy_text9(record->ActionDay, time->ActionDay);
}

}  // namespace Api
