// Arbitrary byte streams in arbitrary pieces through a socket pair into a
// client channel's read(), under every cipher type: it must never crash or
// read out of bounds, every ending must be one of the channel's close
// reasons, and every frame it stores must be a complete plain frame.
//
// Input: byte 0 cipher type (mod 5), bytes 1-8 the key, byte 9 the seed of
// the piece sizes, the rest the stream the peer sends.
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include "base/byte_order.h"
#include "base/data_flow_iterator.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_flow.h"

namespace {

using Network::XeloClientChannel;
using Network::XeloFlow;

const unsigned short SUBJECTS[] = {1, 2, 7, 8, 9};

bool refuse_odd_length(Base::DataFlow*, char*, unsigned short& length) {
    return length % 7 != 3;
}

// Reads until the socket is empty or the channel closed; the close reason
// or 0. read() must make progress every call.
int pump(XeloClientChannel& channel, int fd) {
    static const std::set<int> reasons = {-11, -12, -16, -17, -19, -22, -24};
    for (int i = 0; i < 1000; ++i) {
        int r = channel.read(), queued = 0;
        if (r < 0 && reasons.count(r) == 0) abort();
        if (r < 0) return r;
        if (ioctl(fd, FIONREAD, &queued) != 0 || queued == 0) return 0;
    }
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fds[2];
    if (size < 10 || size > 200000 || socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    int big = 1 << 20;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);

    XeloFlow* flows[5];
    XeloClientChannel channel(nullptr, nullptr, nullptr, 1);
    channel.create(fds[0]);
    unsigned long key;
    memcpy(&key, data + 1, 8);
    channel.set_cipher(static_cast<unsigned char>(data[0] % 5), key);
    for (int i = 0; i < 5; ++i) {
        flows[i] = new XeloFlow(SUBJECTS[i], big, big, nullptr, nullptr, 0, nullptr, false, false);
        channel.subscribe(flows[i], SUBJECTS[i] == 8 ? refuse_odd_length : nullptr, 0,
                          SUBJECTS[i] == 9);
    }

    unsigned int seed = data[9] | 1u;
    const uint8_t* stream = data + 10;
    size_t left = size - 10;
    int reason = 0;
    while (left > 0 && reason == 0) {
        seed = seed * 1103515245u + 12345u;
        size_t piece = std::min<size_t>(left, 1 + (seed >> 16) % (seed & 0x100 ? 9000 : 13));
        if (send(fds[1], stream, piece, MSG_NOSIGNAL) != static_cast<ssize_t>(piece)) abort();
        stream += piece;
        left -= piece;
        reason = pump(channel, fds[0]);
    }
    if (reason == 0) {
        // The peer leaves: whatever was incomplete, the ending is -11.
        shutdown(fds[1], SHUT_WR);
        if (pump(channel, fds[0]) != -11) abort();
    }
    if (channel.is_valid() || channel.get_sub_item(7) != nullptr) abort();
    // Every stored object is a plain data frame whose lengths agree.
    for (XeloFlow* flow : flows) {
        Base::DataFlow::Iterator it(flow, nullptr, nullptr, nullptr);
        while (const Base::DataFlow::Iterator::Result* r = it.next()) {
            const char* f = r->data;
            if (r->length < 26 || f[0] != 2 || f[4] != 1 || f[5] != 0 ||
                Base::load_be16(f + 2) + 4u != r->length ||
                Base::load_be16(f + 6 + 14) + 26u != r->length)
                abort();
        }
        delete flow;
    }
    ::close(fds[1]);
    return 0;
}
