#ifndef XELMD_CIPHER_BLOCK_BUFFER_H
#define XELMD_CIPHER_BLOCK_BUFFER_H

#include <cstring>

namespace Cipher {

// Partial-block bookkeeping shared by the block-oriented digests: input is
// gathered in buffer until a block is whole, and runs of whole blocks go to
// compress(blocks, count) straight from the caller's memory. On return
// buffer holds the fill < B bytes not yet compressed.
template <int B, typename Compress>
inline void absorb_blocks(unsigned char (&buffer)[B], int& fill, const unsigned char* in,
                          int length, Compress compress) {
    if (fill > 0) {
        const int take = length < B - fill ? length : B - fill;
        std::memcpy(buffer + fill, in, static_cast<size_t>(take));
        fill += take;
        in += take;
        length -= take;
        if (fill < B) return;
        compress(buffer, 1);
        fill = 0;
    }
    if (length >= B) {
        compress(in, length / B);
        in += length / B * B;
        length %= B;
    }
    std::memcpy(buffer, in, static_cast<size_t>(length));
    fill = length;
}

}  // namespace Cipher

#endif  // XELMD_CIPHER_BLOCK_BUFFER_H
