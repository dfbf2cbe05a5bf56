// footprint_primitives: the public-key work of one connection set-up, each
// step alone, with the same classes and keys the client and the simulator
// use. Prints one JSON object per step: median and p99 microseconds.
//
//   footprint_primitives RUNS KEY.pem
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/api_info.h"
#include "api/key_exchange.h"
#include "api/md_api.h"
#include "cipher/sm2.h"
#include "network/xelo_flow.h"
#include "tools/front/key_reply.h"
#include "tools/front/synthetic_market.h"
#include "tools/front/terminal_check.h"

namespace {

using Clock = std::chrono::steady_clock;

void report(const char* name, const char* side, int runs, const std::function<bool()>& step) {
    std::vector<double> us;
    bool ok = true;
    for (int i = 0; i < runs && ok; ++i) {
        Clock::time_point t = Clock::now();
        ok = step();
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
    if (!ok) {
        printf("{\"kind\":\"primitive\",\"name\":\"%s\",\"error\":true}\n", name);
        return;
    }
    std::sort(us.begin(), us.end());
    size_t p99 = (us.size() * 99 + 99) / 100 - 1;
    printf(
        "{\"kind\":\"primitive\",\"name\":\"%s\",\"side\":\"%s\",\"median_us\":%.1f,"
        "\"p99_us\":%.1f}\n",
        name, side, us[us.size() / 2], us[std::min(p99, us.size() - 1)]);
}

// Sums what a flow stores per packet.
class UnitCounter final : public Base::DataFlow::WriteCallback {
  public:
    void on_write(unsigned long, const void*, unsigned short length) override {
        bytes += length;
        ++units;
    }
    unsigned long bytes = 0, units = 0;
};

// The bytes one depth update takes in a topic flow of the client, in the
// simulator's default mix (four instruments, every 20th packet a full
// snapshot): the stored frame plus its 4-byte offset entry.
void report_unit_size() {
    UnitCounter counter;
    Network::XeloFlow flow(100, 1 << 20, 1 << 20, nullptr, &counter, 0, nullptr, false, false);
    Network::XeloFlow::Writer writer(&flow, false);
    Front::SyntheticMarket::Config config;
    Front::SyntheticMarket market(config);
    for (int i = 1; i <= 2000; ++i) {
        int index = i % config.instruments;
        market.step(index, "09:30:00", i % 1000);
        if (i % 20 == 0)
            market.write_snapshot(&writer, index);
        else
            market.write_increment(&writer, &index, 1);
    }
    printf("{\"kind\":\"design\",\"unit_bytes\":%.1f,\"api_object_bytes\":%zu}\n",
           static_cast<double>(counter.bytes) / static_cast<double>(counter.units) + 4.0,
           sizeof(Api::MdApi));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: footprint_primitives RUNS KEY.pem\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    Front::TerminalCheck terminal;
    std::string error;
    if (!terminal.load(argv[2], error)) {
        fprintf(stderr, "footprint_primitives: %s\n", error.c_str());
        return 1;
    }

    // Client: a fresh SM2 pair and its text, per connection.
    Cipher::Sm2 client(true);
    char text[Api::KeyExchange::TEXT_SIZE];
    report("sm2_key_pair", "client", runs,
           [&] { return Api::KeyExchange::build_text(&client, text) > 0; });

    // Front: the channel key sealed to the client's public key.
    char reply[Front::KeyReply::TEXT_SIZE];
    unsigned long key = 0x0123456789abcdefUL;
    report("sm2_seal_key", "front", runs,
           [&] { return Front::KeyReply::build(Front::KeyReply::SM2, 4, key, text, reply); });

    // Client: opening the sealed key.
    report("sm2_open_key", "client", runs, [&] {
        unsigned char type = 0;
        unsigned long got = 0;
        return Api::KeyExchange::derive_key(&client, text, reply, type, got) == 1 && got == key;
    });

    // Client: the terminal information under the embedded RSA public key.
    char sealed[Api::ENCRYPTED_INFO_SIZE];
    report("rsa_encrypt_info", "client", runs,
           [&] { return Api::encrypt_api_info(sealed, 12345, '0') == 1; });

    // Front: opening it with the private key.
    report("rsa_open_info", "front", runs, [&] {
        std::string detail;
        return terminal.check(sealed, 12345, detail);
    });
    report_unit_size();
    return 0;
}
