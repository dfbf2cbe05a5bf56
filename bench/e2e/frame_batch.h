#ifndef XELMD_BENCH_E2E_FRAME_BATCH_H
#define XELMD_BENCH_E2E_FRAME_BATCH_H

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace E2e {

// A batch of finished wire frames (framed, compressed, enciphered) held
// back to back, with the places of the bytes that change from one sending
// to the next: the packet's 32-bit sequence number and the two 32-bit
// halves of the send timestamp. Those bytes travel as literal bytes in
// every form the frame can take (plain, zero-run escaped, XOR or counter-mode
// keystream), so a change of plaintext is applied to the frame by XORing the
// old and new big-endian values into them. Needs nothing of the library.
// One thread.
class FrameBatch {
  public:
    // Byte positions of one frame inside bytes(); -1 when absent.
    struct Frame {
        size_t at;
        int length;
        int sequence_at[4];
        int stamp_high_at[4];
        int stamp_low_at[4];
        uint32_t sequence, stamp_high, stamp_low;  // the values the bytes hold now
    };

    void add(const unsigned char* frame, int length, const int* sequence_at, const int* high_at,
             const int* low_at, uint32_t sequence, uint32_t high, uint32_t low) {
        Frame f;
        f.at = bytes_.size();
        f.length = length;
        for (int i = 0; i < 4; ++i) {
            f.sequence_at[i] = sequence_at[i];
            f.stamp_high_at[i] = high_at ? high_at[i] : -1;
            f.stamp_low_at[i] = low_at ? low_at[i] : -1;
        }
        f.sequence = sequence;
        f.stamp_high = high;
        f.stamp_low = low;
        bytes_.insert(bytes_.end(), frame, frame + length);
        frames_.push_back(f);
    }

    void set_sequence(size_t index, uint32_t sequence) {
        Frame& f = frames_[index];
        apply(f, f.sequence_at, f.sequence ^ sequence);
        f.sequence = sequence;
    }
    void set_stamp(size_t index, uint64_t nanoseconds) {
        Frame& f = frames_[index];
        uint32_t high = static_cast<uint32_t>(nanoseconds >> 32);
        uint32_t low = static_cast<uint32_t>(nanoseconds);
        if (f.stamp_high_at[0] >= 0) apply(f, f.stamp_high_at, f.stamp_high ^ high);
        if (f.stamp_low_at[0] >= 0) apply(f, f.stamp_low_at, f.stamp_low ^ low);
        f.stamp_high = high;
        f.stamp_low = low;
    }

    size_t count() const { return frames_.size(); }
    const Frame& frame(size_t index) const { return frames_[index]; }
    const unsigned char* data() const { return bytes_.data(); }
    unsigned char* data() { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

  private:
    // Big-endian: the first position takes the top byte.
    void apply(Frame& f, const int* at, uint32_t delta) {
        unsigned char* p = bytes_.data() + f.at;
        for (int i = 0; i < 4; ++i) p[at[i]] ^= static_cast<unsigned char>(delta >> (24 - 8 * i));
    }

    std::vector<unsigned char> bytes_;
    std::vector<Frame> frames_;
};

// CLOCK_MONOTONIC in nanoseconds: the one clock both processes read.
inline uint64_t monotonic_ns() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ULL + static_cast<uint64_t>(t.tv_nsec);
}

// Sleeps until the monotonic clock reaches due and returns the time then.
// A paced sender never spins: on two shared cores a spinning sender would
// take the receiver's core from it. Late wake-ups only shift the send times
// (each frame is stamped as it leaves) and, at high rates, send the frames
// that fell due meanwhile one after the other.
inline uint64_t wait_until(uint64_t due) {
    uint64_t now = monotonic_ns();
    if (now < due) {
        struct timespec t = {static_cast<time_t>(due / 1000000000ULL),
                             static_cast<long>(due % 1000000000ULL)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
        now = monotonic_ns();
    }
    return now;
}

}  // namespace E2e

#endif  // XELMD_BENCH_E2E_FRAME_BATCH_H
