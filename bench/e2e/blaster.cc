// xelmd-e2e-blaster: the sending end of the end-to-end benchmark. It serves
// one client through the front simulator's own dialogue on the library's
// server side (SM2 key exchange, terminal information, login, the topic's
// announcement), then stops that reactor and writes pre-built frames of the
// topic straight to the socket: built, compressed and enciphered once, with
// only the sequence number (and, when paced, the send timestamp) changed per
// sending, so that the sender is never the bottleneck.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/e2e/frame_batch.h"
#include "field/xelfield.h"
#include "network/crp_packet.h"
#include "network/server_session.h"
#include "network/xelo_bond_server_session.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_flow.h"
#include "network/xelo_packet.h"
#include "network/xelo_server_session.h"
#include "parallel/fd_reactor.h"
#include "parallel/handler.h"
#include "tools/front/front_connection.h"
#include "tools/front/front_dialogue.h"
#include "tools/front/synthetic_market.h"
#include "tools/front/terminal_check.h"
#include "tools/front/topic_board.h"
#include "tools/front/user_table.h"

namespace {

const char USAGE[] =
    "usage: xelmd-e2e-blaster --port-file FILE [options]\n"
    "  --cipher 0..4          cipher type agreed at login (default 0)\n"
    "  --kind snapshot|increment\n"
    "  --compress             zero-run compress the frames\n"
    "  --seconds S            how long to send (default 2)\n"
    "  --rate R               paced: R frames per second, each stamped at send time\n"
    "                         (default 0: as fast as the socket takes them)\n"
    "  --terminal-key PEM     check the client's terminal information with this key\n"
    "  --dump FILE            write the plain frames of one batch to FILE and exit\n"
    "Prints one JSON line: frames sent, seconds, bytes.\n";

const int TOPIC = 100;
const int INSTRUMENTS = 4;
const int BATCH = 4096;
const uint32_t SENTINEL_HIGH = 0x6D5A3C11u;
const uint32_t SENTINEL_LOW = 0x6D5A3C22u;
const int TIMER_CHECK = 31;

struct Options {
    std::string port_file, dump, terminal_key;
    int cipher = 0;
    bool increment = false;
    bool compress = false;
    double seconds = 2;
    double rate = 0;
};

// Accepts connections for the front's dialogue and watches for the moment
// the one client is logged in with nothing left to send. Reactor thread,
// except ready and channel, read by the main thread after ready.
class Harness : public Network::ServerSession, public Parallel::Handler {
  public:
    Harness(Parallel::FdReactor* reactor, Front::FrontContext* context)
        : Network::ServerSession(reactor, nullptr, nullptr), context_(context) {}

    Network::ClientSession* create_client(int fd) override {
        if (connection_ != nullptr) return nullptr;  // one client per run
        connection_ = new Front::FrontConnection(get_reactor(), context_, 1, {});
        connection_->open(fd);
        return connection_;
    }
    bool on_timer(int) override {
        if (connection_ == nullptr || ready.load()) return true;
        Network::XeloClientChannel* c = connection_->get_channel();
        if (c == nullptr || !c->is_valid()) return true;
        if (connection_->get_dialogue()->get_stage() != Front::FrontDialogue::LOGGED_IN)
            return true;
        if (c->get_pending() > 0 || c->available()) return true;
        channel = c;
        ready.store(true);
        return true;
    }

    std::atomic<bool> ready{false};
    Network::XeloClientChannel* channel = nullptr;

  private:
    Front::FrontContext* context_;
    Front::FrontConnection* connection_ = nullptr;
};

// Positions of a 32-bit value's big-endian bytes in a frame; false unless
// it occurs exactly once.
bool find_once(const unsigned char* frame, int length, uint32_t value, int* at) {
    unsigned char be[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    int found = -1;
    for (int i = 0; i + 4 <= length; ++i) {
        if (memcmp(frame + i, be, 4) != 0) continue;
        if (found >= 0) return false;
        found = i;
    }
    for (int i = 0; i < 4; ++i) at[i] = found + i;
    return found >= 0;
}

// One plain unit (transport and compression headers, packet) of the kind
// asked for instrument index, numbered sequence; the timestamp halves hold
// the sentinels.
int build_plain(Front::SyntheticMarket& market, int index, bool increment, uint32_t sequence,
                unsigned char* unit) {
    Field::XelDepthMarketDataField book = market.get_book(index);
    book.BidVolume1 = static_cast<int>(SENTINEL_HIGH);
    book.AskVolume1 = static_cast<int>(SENTINEL_LOW);
    Network::XeloPacket p(
        increment ? Front::SyntheticMarket::TID_INCREMENT : Front::SyntheticMarket::TID_SNAPSHOT, 0,
        Network::XeloPacket::CHAIN_LAST);
    p.attach(unit + Network::XeloPacket::UNIT_PREFIX_SIZE);
    if (!increment) {
        p.add_field(&Field::XelDepthMarketDataField::DESC, &book,
                    &Field::XelDepthMarketDataField::to_stream);
    } else {
        // One group as a trade leaves it: time, top of book, last match.
        Field::XelMarketDataUpdateTimeField t;
        memset(&t, 0, sizeof t);
        memcpy(t.InstrumentID, book.InstrumentID, sizeof t.InstrumentID);
        memcpy(t.UpdateTime, book.UpdateTime, sizeof t.UpdateTime);
        t.UpdateMillisec = book.UpdateMillisec;
        memcpy(t.ActionDay, book.ActionDay, sizeof t.ActionDay);
        Field::XelMarketDataBestPriceField b = {book.BidPrice1, book.BidVolume1, book.AskPrice1,
                                                book.AskVolume1};
        Field::XelMarketDataLastMatchField m = {book.LastPrice, book.Volume, book.Turnover,
                                                book.OpenInterest};
        p.add_field(&Field::XelMarketDataUpdateTimeField::DESC, &t,
                    &Field::XelMarketDataUpdateTimeField::to_stream);
        p.add_field(&Field::XelMarketDataBestPriceField::DESC, &b,
                    &Field::XelMarketDataBestPriceField::to_stream);
        p.add_field(&Field::XelMarketDataLastMatchField::DESC, &m,
                    &Field::XelMarketDataLastMatchField::to_stream);
    }
    int packet = p.commit();
    Network::XeloFlow::write_prefix(reinterpret_cast<char*>(unit), static_cast<unsigned>(packet));
    Network::XeloFlow::stamp(reinterpret_cast<char*>(unit), TOPIC, sequence);
    return Network::XeloPacket::UNIT_PREFIX_SIZE + packet;
}

// Zero-run compresses the packet of a plain unit into out, the bytes at the
// given packet positions written as escapes (0xE0, byte) so that they stay
// literal and in place whatever values they later take. The positions
// (sorted, relative to the unit) are rewritten to their places in out.
// Returns the compressed unit's length, or 0 when compression does not pay.
int compress(const unsigned char* unit, int length, std::vector<int*>& holes, unsigned char* out) {
    const int prefix = Network::XeloPacket::UNIT_PREFIX_SIZE;
    std::vector<int> places;
    for (int* h : holes)
        for (int i = 0; i < 4; ++i) places.push_back(h[i]);
    std::sort(places.begin(), places.end());
    int o = prefix;
    int from = prefix;
    std::vector<std::pair<int, int>> moved;  // (old place, new place)
    auto squeeze = [&](int end) {
        int room = 8194 - o;
        if (end > from)
            Network::CrpPacket::encode_zero(out + o, room, unit + from, end - from);
        else
            room = 0;
        o += room;
    };
    for (int place : places) {
        squeeze(place);
        out[o++] = 0xE0;
        moved.push_back({place, o});
        out[o++] = unit[place];
        from = place + 1;
    }
    squeeze(length);
    if (o >= length) return 0;
    for (int* h : holes)
        for (int i = 0; i < 4; ++i)
            for (auto& m : moved)
                if (m.first == h[i]) {
                    h[i] = m.second;
                    break;
                }
    int content = o - 4;
    out[0] = 2;
    out[1] = 0;
    out[2] = static_cast<unsigned char>(content >> 8);
    out[3] = static_cast<unsigned char>(content);
    out[4] = 1;
    out[5] = 3;
    return o;
}

bool build_batch(const Options& o, Network::XeloClientChannel* channel, E2e::FrameBatch& batch,
                 std::string& error) {
    Front::SyntheticMarket::Config config;
    config.instruments = INSTRUMENTS;
    Front::SyntheticMarket market(config);
    unsigned char unit[8200], packed[8200], sealed[8200];
    for (int k = 0; k < BATCH; ++k) {
        int index = k % INSTRUMENTS;
        market.step(index, "09:30:00", k % 1000);
        int length = build_plain(market, index, o.increment, static_cast<uint32_t>(k + 1), unit);
        int seq[4], high[4], low[4];
        for (int i = 0; i < 4; ++i)
            seq[i] = Network::XeloPacket::UNIT_PREFIX_SIZE + Network::XeloPacket::SEQUENCE_AT + i;
        if (!find_once(unit, length, SENTINEL_HIGH, high) ||
            !find_once(unit, length, SENTINEL_LOW, low)) {
            error = "timestamp places not found in the frame";
            return false;
        }
        const unsigned char* frame = unit;
        if (o.compress) {
            std::vector<int*> holes = {seq, high, low};
            int n = compress(unit, length, holes, packed);
            if (n > 0) {
                frame = packed;
                length = n;
            }
        }
        if (channel != nullptr && channel->get_cipher_type() != 0) {
            memcpy(sealed, frame, 4);
            if (channel->encode(sealed + 4, frame + 4, length - 4) == 0) {
                error = "the channel refused to encipher";
                return false;
            }
            frame = sealed;
        }
        batch.add(frame, length, seq, high, low, static_cast<uint32_t>(k + 1), SENTINEL_HIGH,
                  SENTINEL_LOW);
    }
    return true;
}

bool send_all(int fd, const unsigned char* data, size_t length) {
    while (length > 0) {
        ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--compress") {
            o.compress = true;
            continue;
        }
        if (a == "--help") return false;
        if ((v = value()) == nullptr) return false;
        if (a == "--port-file")
            o.port_file = v;
        else if (a == "--dump")
            o.dump = v;
        else if (a == "--terminal-key")
            o.terminal_key = v;
        else if (a == "--cipher")
            o.cipher = atoi(v);
        else if (a == "--kind")
            o.increment = std::string(v) == "increment";
        else if (a == "--seconds")
            o.seconds = atof(v);
        else if (a == "--rate")
            o.rate = atof(v);
        else
            return false;
    }
    return o.cipher >= 0 && o.cipher <= 4 && (!o.port_file.empty() || !o.dump.empty());
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        fputs(USAGE, stderr);
        return 2;
    }
    std::string error;
    if (!o.dump.empty()) {
        E2e::FrameBatch batch;
        if (!build_batch(o, nullptr, batch, error)) {
            fprintf(stderr, "xelmd-e2e-blaster: %s\n", error.c_str());
            return 1;
        }
        FILE* f = fopen(o.dump.c_str(), "wb");
        bool ok = f && fwrite(batch.data(), 1, batch.size(), f) == batch.size();
        if (f) fclose(f);
        return ok ? 0 : 1;
    }

    Front::UserTable users;
    Front::TerminalCheck terminal;
    Front::TopicBoard board;
    board.add(TOPIC);
    Front::FrontContext context;
    context.key_mode = Front::KeyReply::SM2;
    context.cipher_type = o.cipher;
    context.users = &users;
    context.topics = &board;
    if (!o.terminal_key.empty()) {
        if (!terminal.load(o.terminal_key.c_str(), error)) {
            fprintf(stderr, "xelmd-e2e-blaster: %s\n", error.c_str());
            return 1;
        }
        context.terminal = &terminal;
    }
    // Left to the end of the process: the reactor is stopped under them.
    auto* reactor = new Parallel::FdReactor(nullptr);
    reactor->create(true, nullptr);
    auto* harness = new Harness(reactor, &context);
    auto* bond = new Network::XeloBondServerSession(reactor, harness, nullptr, 2);
    if (!bond->open("127.0.0.1", 0)) {
        fprintf(stderr, "xelmd-e2e-blaster: cannot listen\n");
        return 1;
    }
    reactor->add_timer(TIMER_CHECK, 1000, true, harness, false);
    int port = bond->get_listener(0)->get_port();
    std::string tmp = o.port_file + ".tmp";
    FILE* pf = fopen(tmp.c_str(), "w");
    if (pf == nullptr) return 1;
    fprintf(pf, "%d\n", port);
    fclose(pf);
    rename(tmp.c_str(), o.port_file.c_str());

    for (int i = 0; i < 30000 && !harness->ready.load(); ++i) usleep(1000);
    if (!harness->ready.load()) {
        fprintf(stderr, "xelmd-e2e-blaster: no client logged in within 30 s\n");
        return 1;
    }
    // From here on this thread alone touches the connection.
    reactor->stop();
    reactor->join();
    Network::XeloClientChannel* channel = harness->channel;
    for (int i = 0; i < 1000 && channel->get_pending() > 0; ++i) channel->write();
    int fd = channel->get_id();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    E2e::FrameBatch batch;
    if (!build_batch(o, channel, batch, error)) {
        fprintf(stderr, "xelmd-e2e-blaster: %s\n", error.c_str());
        return 1;
    }
    uint32_t next = 1;  // the announcement placed the client's flow at 0
    unsigned long sent = 0, bytes = 0;
    uint64_t start = E2e::monotonic_ns();
    uint64_t end = start + static_cast<uint64_t>(o.seconds * 1e9);
    bool ok = true;
    if (o.rate <= 0) {
        while (ok && E2e::monotonic_ns() < end) {
            for (size_t k = 0; k < batch.count(); ++k) batch.set_sequence(k, next++);
            ok = send_all(fd, batch.data(), batch.size());
            sent += batch.count();
            bytes += batch.size();
        }
    } else {
        double interval = 1e9 / o.rate;
        for (unsigned long k = 0; ok; ++k) {
            uint64_t due = start + static_cast<uint64_t>(static_cast<double>(k) * interval);
            if (due >= end) break;
            E2e::wait_until(due);
            size_t i = k % batch.count();
            batch.set_sequence(i, next++);
            batch.set_stamp(i, E2e::monotonic_ns());
            const E2e::FrameBatch::Frame& f = batch.frame(i);
            ok = send_all(fd, batch.data() + f.at, static_cast<size_t>(f.length));
            ++sent;
            bytes += static_cast<unsigned long>(f.length);
        }
    }
    double seconds = static_cast<double>(E2e::monotonic_ns() - start) / 1e9;
    printf("{\"sent\": %lu, \"seconds\": %.6f, \"bytes\": %lu, \"ok\": %s}\n", sent, seconds, bytes,
           ok ? "true" : "false");
    fflush(stdout);
    // The receiver hangs up once it has counted everything.
    char sink[65536];
    struct timeval wait = {30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    while (recv(fd, sink, sizeof sink, 0) > 0) {
    }
    _exit(ok ? 0 : 1);
}
