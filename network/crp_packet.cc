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

// Length of the leading span of [p, end) whose bytes encode as themselves:
// neither zero nor in 0xE0..0xEF. Sixteen bytes per step.
int plain_span_to_encode(const unsigned char* p, const unsigned char* end) {
    const unsigned char* start = p;
    const __m128i zero = _mm_setzero_si128();
    const __m128i high = _mm_set1_epi8(static_cast<char>(0xF0));
    const __m128i escape = _mm_set1_epi8(static_cast<char>(ESCAPE));
    while (end - p >= 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i special =
            _mm_or_si128(_mm_cmpeq_epi8(x, zero), _mm_cmpeq_epi8(_mm_and_si128(x, high), escape));
        int mask = _mm_movemask_epi8(special);
        if (mask != 0) return static_cast<int>(p - start) + __builtin_ctz(mask);
        p += 16;
    }
    while (p < end && *p != 0 && (*p & 0xF0) != ESCAPE) ++p;
    return static_cast<int>(p - start);
}

// Length of the leading span of [p, end) holding no byte of 0xE0 or above.
int plain_span_to_decode(const unsigned char* p, const unsigned char* end) {
    const unsigned char* start = p;
    const __m128i escape = _mm_set1_epi8(static_cast<char>(ESCAPE));
    while (end - p >= 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // x >= 0xE0 (unsigned) exactly when max(x, 0xE0) == x.
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, escape), x));
        if (mask != 0) return static_cast<int>(p - start) + __builtin_ctz(mask);
        p += 16;
    }
    while (p < end && *p < ESCAPE) ++p;
    return static_cast<int>(p - start);
}

}  // namespace

int CrpPacket::encode_zero(unsigned char* out, int& out_length, const unsigned char* in,
                           int in_length) {
    const unsigned char* p = in;
    const unsigned char* end = in + (in_length > 0 ? in_length : 0);
    const int capacity = out_length;
    int o = 0;
    while (p < end) {
        int span = plain_span_to_encode(p, end);
        if (span > 0) {
            if (span > capacity - o) return -2;
            memcpy(out + o, p, static_cast<size_t>(span));
            o += span;
            p += span;
            continue;
        }
        if (*p == 0) {
            int run = 1;
            while (run < MAX_RUN && p + run < end && p[run] == 0) ++run;
            if (o >= capacity) return -2;
            out[o++] = static_cast<unsigned char>(ESCAPE + run);
            p += run;
        } else {
            if (capacity - o < 2) return -2;
            out[o++] = ESCAPE;
            out[o++] = *p++;
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
        int span = plain_span_to_decode(p, end);
        if (span > 0) {
            if (span > capacity - o) return -2;
            memcpy(out + o, p, static_cast<size_t>(span));
            o += span;
            p += span;
            continue;
        }
        unsigned char c = *p++;
        if (c == ESCAPE) {
            if (p == end) return -1;  // the escaped byte is missing
            out[o++] = *p++;
        } else if (c > ESCAPE + MAX_RUN) {
            out[o++] = c;  // 0xF0..0xFF stand for themselves
        } else {
            int run = c - ESCAPE;
            if (run > capacity - o) return -2;
            memset(out + o, 0, static_cast<size_t>(run));
            o += run;
        }
    }
    out_length = o;
    return 0;
}

}  // namespace Network
