#include "network/crp_packet.h"

#include <emmintrin.h>

#include <cstring>

namespace Network {

void CrpPacket::to_stream(const Header* header, char* out) {
    out[0] = static_cast<char>(header->version);
    out[1] = static_cast<char>(header->method);
}

void CrpPacket::from_stream(Header* header, const char* in) {
    header->version = static_cast<unsigned char>(in[0]);
    header->method = static_cast<unsigned char>(in[1]);
}

namespace {

const unsigned char ESCAPE = 0xE0;
const int MAX_RUN = 15;
const int LANE = 16;

inline __m128i load16(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void store16(unsigned char* p, __m128i x) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
}

// Bit i set where byte i lies in 0xE0..0xEF.
inline int escape_mask(__m128i x) {
    return _mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_and_si128(x, _mm_set1_epi8(static_cast<char>(0xF0))),
                       _mm_set1_epi8(static_cast<char>(ESCAPE))));
}

inline int zero_mask(__m128i x) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_setzero_si128()));
}

// The fast paths below store whole 16-byte lanes and then advance by the
// bytes that count; they run only while 16 bytes of input remain and 16
// bytes of output capacity are free, so the lanes stay inside both buffers.
// The byte-wise paths handle the ends.

}  // namespace

int CrpPacket::encode_zero(unsigned char* out, int& out_length, const unsigned char* in,
                           int in_length) {
    const unsigned char* p = in;
    const unsigned char* end = in + (in_length > 0 ? in_length : 0);
    const int capacity = out_length;
    int o = 0;
    while (p < end) {
        if (end - p >= LANE && capacity - o >= LANE) {
            __m128i x = load16(p);
            int zeros = zero_mask(x);
            int special = zeros | escape_mask(x);
            if ((special & 1) == 0) {  // plain bytes pass as they are
                store16(out + o, x);
                int span = special ? __builtin_ctz(special) : LANE;
                o += span;
                p += span;
                continue;
            }
            if (zeros & 1) {
                int run = __builtin_ctz(~zeros);  // zeros cover at most the 16-byte lane
                if (run > MAX_RUN) run = MAX_RUN;
                out[o++] = static_cast<unsigned char>(ESCAPE + run);
                p += run;
            } else {
                out[o++] = ESCAPE;
                out[o++] = *p++;
            }
            continue;
        }
        unsigned char c = *p;
        if (c == 0) {
            int run = 1;
            while (run < MAX_RUN && p + run < end && p[run] == 0) ++run;
            if (o >= capacity) return -2;
            out[o++] = static_cast<unsigned char>(ESCAPE + run);
            p += run;
        } else if ((c & 0xF0) == ESCAPE) {
            if (capacity - o < 2) return -2;
            out[o++] = ESCAPE;
            out[o++] = c;
            ++p;
        } else {
            if (o >= capacity) return -2;
            out[o++] = c;
            ++p;
        }
    }
    out_length = o;
    return 0;
}

int CrpPacket::decode_zero(unsigned char* out, int& out_length, const unsigned char* in,
                           int in_length) {
    const unsigned char* p = in;
    const unsigned char* end = in + (in_length > 0 ? in_length : 0);
    const int capacity = out_length;
    int o = 0;
    while (p < end) {
        if (o >= capacity) return -2;
        if (end - p >= LANE && capacity - o >= LANE) {
            __m128i x = load16(p);
            int special = escape_mask(x);
            if ((special & 1) == 0) {
                store16(out + o, x);
                int span = special ? __builtin_ctz(special) : LANE;
                o += span;
                p += span;
                continue;
            }
            unsigned char c = *p++;
            if (c == ESCAPE) {
                out[o++] = *p++;  // the lane holds the escaped byte
            } else {
                store16(out + o, _mm_setzero_si128());
                o += c - ESCAPE;
            }
            continue;
        }
        unsigned char c = *p++;
        if (c == ESCAPE) {
            if (p == end) return -1;  // the escaped byte is missing
            out[o++] = *p++;
        } else if ((c & 0xF0) == ESCAPE) {
            int run = c - ESCAPE;
            if (run > capacity - o) return -2;
            memset(out + o, 0, static_cast<size_t>(run));
            o += run;
        } else {
            out[o++] = c;
        }
    }
    out_length = o;
    return 0;
}

}  // namespace Network
