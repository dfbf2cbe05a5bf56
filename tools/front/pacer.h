#ifndef XELMD_TOOLS_FRONT_PACER_H
#define XELMD_TOOLS_FRONT_PACER_H

namespace Front {

// Messages owed at now_ms to keep `rate` per second since start_ms, given
// `sent` already; never negative, and capped so a stalled loop does not
// burst a backlog of more than one second.
inline unsigned long packets_due(unsigned long start_ms, unsigned long now_ms, unsigned int rate,
                                 unsigned long sent) {
    if (now_ms <= start_ms) return 0;
    unsigned long owed = (now_ms - start_ms) * rate / 1000;
    if (owed <= sent) return 0;
    unsigned long due = owed - sent;
    return due > rate ? rate : due;
}

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_PACER_H
