#include "network/channel.h"

#include <sys/time.h>

#include <cstring>
#include <new>

#include "base/byte_order.h"
#include "base/data_flow.h"
#include "cipher/aes.h"
#include "cipher/des.h"
#include "cipher/sm4.h"

namespace Network {

namespace {

// Type 1 words are little-endian whatever the host.
uint64_t load_le64(const unsigned char* p) {
    uint64_t v;
    memcpy(&v, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

void store_le64(unsigned char* p, uint64_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    memcpy(p, &v, 8);
}

// Word i is XORed with key + i (mod 2^64); the tail with the key's own
// little-endian bytes. Its own inverse.
void xor_running(unsigned char* out, const unsigned char* in, int length, uint64_t key) {
    const int words = length / 8;
    for (int i = 0; i < words; ++i)
        store_le64(out + i * 8, load_le64(in + i * 8) ^ (key + static_cast<uint64_t>(i)));
    for (int j = 0; j < length - words * 8; ++j)
        out[words * 8 + j] = in[words * 8 + j] ^ static_cast<unsigned char>(key >> (8 * j));
}

// Every counter-mode call starts from the fixed block, so each frame is
// transformed on its own: the same frame always gives the same bytes.
template <class C>
int counter_mode(C* c, int iv_size, unsigned char* out, const unsigned char* in, int length,
                 bool decoding) {
    if (c == nullptr) return 0;
    int out_len = 0;
    bool ok = decoding ? c->decode_ctr(out, out_len, in, length, Channel::COUNTER_IV, iv_size)
                       : c->encode_ctr(out, out_len, in, length, Channel::COUNTER_IV, iv_size);
    return ok && out_len == length ? 1 : 0;
}

}  // namespace

Channel::Channel(Parallel::FdReactor* reactor, Parallel::Reporter* reporter)
    : reactor_(reactor),
      reporter_(reporter),
      log_(nullptr),
      cipher_type_(CIPHER_NONE),
      key_block_(),
      des_(nullptr),
      aes_(nullptr),
      sm4_(nullptr) {}

Channel::~Channel() {
    delete des_;
    delete aes_;
    delete sm4_;
    // The key outlives no connection in memory.
    volatile unsigned char* k = key_block_;
    for (int i = 0; i < KEY_BLOCK_SIZE; ++i) k[i] = 0;
}

void Channel::write_log(unsigned short kind, unsigned short length, const void* data) {
    if (log_ == nullptr || get_id() == 0) return;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (p == nullptr) length = 0;
    // A record holds at most LOG_MAX_DATA bytes; longer data go in several
    // records of the same kind, so no byte is lost.
    do {
        const unsigned short n = length > LOG_MAX_DATA ? LOG_MAX_DATA : length;
        write_record(kind, n, p);
        p += n;
        length = static_cast<unsigned short>(length - n);
    } while (length > 0);
}

void Channel::write_record(unsigned short kind, unsigned short length, const unsigned char* data) {
    const unsigned short size = static_cast<unsigned short>(length + LOG_HEADER_SIZE);
    unsigned char* record = static_cast<unsigned char*>(log_->alloc_object(size));
    if (record == nullptr) return;
    struct timeval now;
    gettimeofday(&now, nullptr);
    Base::store_be32(record, static_cast<uint32_t>(get_id()));
    Base::store_be32(record + 4, static_cast<uint32_t>(now.tv_sec));
    Base::store_be16(record + 8, kind);
    Base::store_be16(record + 10, length);
    Base::store_be32(record + 12, static_cast<uint32_t>(now.tv_usec));
    if (length > 0) memcpy(record + LOG_HEADER_SIZE, data, length);
    log_->commit_object(size, true);
}

void Channel::set_cipher(unsigned char type, unsigned long key) {
    memcpy(key_block_, &key, 8);
    memcpy(key_block_ + 8, &key, 8);
    // An unknown type keeps the cipher in force; only the key block moved.
    if (type > CIPHER_SM4) return;
    switch (type) {
        case CIPHER_DES:
            delete des_;
            des_ = new (std::nothrow) Cipher::Des(key_block_);
            break;
        case CIPHER_AES:
            delete aes_;
            aes_ = new (std::nothrow) Cipher::Aes(key_block_, KEY_BLOCK_SIZE);
            break;
        case CIPHER_SM4:
            delete sm4_;
            sm4_ = new (std::nothrow) Cipher::Sm4(key_block_);
            break;
        default:
            break;
    }
    cipher_type_ = type;
    unsigned char data[9];
    data[0] = type;
    memcpy(data + 1, key_block_, 8);
    write_log(LOG_CIPHER_SET, sizeof data, data);
}

int Channel::encode(unsigned char* out, const unsigned char* in, int length) {
    return transform(out, in, length, false);
}

int Channel::decode(unsigned char* out, const unsigned char* in, int length) {
    return transform(out, in, length, true);
}

int Channel::transform(unsigned char* out, const unsigned char* in, int length, bool decoding) {
    if (length < 0) return 0;
    switch (cipher_type_) {
        case CIPHER_XOR: {
            uint64_t key;
            memcpy(&key, key_block_, 8);
            xor_running(out, in, length, key);
            return 1;
        }
        case CIPHER_DES:
            return counter_mode(des_, Cipher::Des::BLOCK_SIZE, out, in, length, decoding);
        case CIPHER_AES:
            return counter_mode(aes_, Cipher::Aes::BLOCK_SIZE, out, in, length, decoding);
        case CIPHER_SM4:
            return counter_mode(sm4_, Cipher::Sm4::BLOCK_SIZE, out, in, length, decoding);
        default:
            return 0;
    }
}

}  // namespace Network
