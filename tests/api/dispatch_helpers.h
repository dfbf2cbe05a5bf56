// Shared by the request, dispatch and topic tests: access to the API's
// private state, with the hand encoder of wire.h and the recording Spi.
#ifndef XELMD_TESTS_API_DISPATCH_HELPERS_H
#define XELMD_TESTS_API_DISPATCH_HELPERS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "api/md_api.h"
#include "base/map.h"
#include "tests/api/recording_spi.h"
#include "tests/api/wire.h"
#include "tests/tools/process.h"

namespace Api {

class MdApiProbe {
  public:
    static void login(MdApi* api, const char* user, const char* participant) {
        api->logged_in_ = true;
        strncpy(api->user_id_, user, sizeof api->user_id_ - 1);
        strncpy(api->participant_id_, participant, sizeof api->participant_id_ - 1);
    }
    // "in user/participant", or "out" and what is left of them.
    static std::string login_state(const MdApi* api) {
        return (api->logged_in_ ? "in " : "out ") + std::string(api->user_id_) + "/" +
               api->participant_id_;
    }
    // The request flow and the limits a connection sets up.
    static void connect(MdApi* api, Base::DataFlow::WriteCallback* sent = nullptr) {
        api->request_flow_ =
            new Network::XeloFlow(1, 1 << 20, 1 << 20, nullptr, sent, 0, nullptr, true, false);
        api->request_writer_ = new Network::XeloFlow::Writer(api->request_flow_, false);
        api->flux_ = MdApi::FluxValue{};
        api->flux_.per_second_limit = MdApi::FLUX_PER_SECOND;
        api->flux_.outstanding_limit = MdApi::FLUX_OUTSTANDING;
    }
    static void disconnect(MdApi* api) {
        delete api->request_writer_;
        delete api->request_flow_;
        api->request_writer_ = nullptr;
        api->request_flow_ = nullptr;
    }
    static MdApi::FluxValue& flux(MdApi* api) { return api->flux_; }
    static void set_clocks(MdApi* api, unsigned long (*ms)(), unsigned long (*local)()) {
        api->clock_ms_ = ms;
        api->local_time_ = local;
    }
    static MdApi::TopicEntry& topic(MdApi* api, int i) { return api->topics_[i]; }
    static int overflow_count(const MdApi* api) { return api->overflow_count_; }
    static Network::XeloFlow* overflow_flow(const MdApi* api, int i) {
        return api->overflow_flows_[i];
    }
    static CTarnXeloDepthMarketDataField* cached(MdApi* api, unsigned int topic,
                                                 const char* instrument) {
        TopicInstrumentKey key;
        set_topic_key(&key, topic, instrument);
        return static_cast<CTarnXeloDepthMarketDataField*>(api->md_cache_->search(&key));
    }
    static unsigned long cache_size(const MdApi* api) {
        unsigned long buckets = 0, count = 0;
        api->md_cache_->get_size(buckets, count);
        return count;
    }
    // Topic flows made by announcements (the table's and the extra ones).
    static void destroy_topic_flows(MdApi* api) {
        for (int i = 0; i < api->topic_count_; ++i) {
            delete api->topics_[i].flow;
            api->topics_[i].flow = nullptr;
        }
        api->destroy_overflow_flows();
    }
};

}  // namespace Api

// Keeps every unit appended to a flow.
struct UnitSink final : Base::DataFlow::WriteCallback {
    std::vector<std::string> units;
    void on_write(unsigned long, const void* data, unsigned short length) override {
        units.emplace_back(static_cast<const char*>(data), length);
    }
};

using ApiTest::RecordingSpi;

// One API object with its market-data cache and a recording Spi, never
// connected: units are fed to its receiving path, requests caught from the
// request flow a test connection gives it, logs written to one file. The
// wall clock reads 2025-09-12 09:30:00.125; the millisecond clock is
// g_now_ms.
class ApiUnitTest : public ::testing::Test {
  protected:
    static inline unsigned long g_now_ms = 0;
    static unsigned long now_ms() { return g_now_ms; }
    static unsigned long local_time() { return 250912093000UL * 10000000UL + 1250000UL; }

    void SetUp() override {
        g_now_ms = 100000;
        Api::MdApiProbe::set_clocks(&api, &now_ms, &local_time);
        api.create_market_data_cache();
        api.RegisterSpi(&spi);
        log_path = "/tmp/api_unit_test_" + std::to_string(getpid()) + ".log";
        remove(log_path.c_str());
    }
    void TearDown() override {
        Api::MdApiProbe::disconnect(&api);
        Api::MdApiProbe::destroy_topic_flows(&api);
        api.destroy_market_data_cache();
        remove(log_path.c_str());
    }
    void connect_and_login() {
        Api::MdApiProbe::connect(&api, &sent);
        Api::MdApiProbe::login(&api, "trader01", "P0001");
    }
    void feed(const wire::Head& h, const std::string& fields, int ext = 0) {
        std::string u = wire::unit(h, fields, ext);
        api.on_write(0, u.data(), static_cast<unsigned short>(u.size()));
    }
    // The log's lines without their stamps.
    std::vector<std::string> log_lines() {
        std::vector<std::string> lines;
        std::istringstream in(ToolTest::read_file(log_path));
        for (std::string l; std::getline(in, l);) lines.push_back(l.substr(18));
        return lines;
    }
    unsigned received() { return Api::MdApiProbe::flux(&api).received; }

    Api::MdApi api{"", nullptr};
    RecordingSpi spi;
    UnitSink sent;
    std::string log_path;
};

#endif  // XELMD_TESTS_API_DISPATCH_HELPERS_H
