#ifndef XELMD_API_MD_API_H
#define XELMD_API_MD_API_H

#include <cstdint>
#include <cstdio>

#include "api/TarnXeloMduserApi.h"
#include "base/mutex.h"
#include "base/sign.h"

namespace Parallel {
class FdReactor;
class Timer;
}  // namespace Parallel
namespace Network {
class XeloFlow;
class XeloBondClientSession;
}  // namespace Network

namespace Api {

// The one implementation of CTarnXeloMduserApi.
// Registration and request operations: any application thread, serialised on
// lock_. Network state: the reactor thread created by Init.
class MdApi : public CTarnXeloMduserApi {
  public:
    static const int MAX_FRONTS = 64;
    static const int MAX_NAME_SERVERS = 16;
    static const int MAX_ADDRESS = 64;  // bytes per address slot, NUL included
    static const int MAX_TOPICS = 64;
    static const unsigned int MIN_HEARTBEAT_TIMEOUT = 4;
    static const unsigned int MAX_HEARTBEAT_TIMEOUT = 181;

    // Result codes of the operations.
    static const int ERR_LOG_OPEN = -4;
    static const int ERR_ALREADY_INITED = -5;
    static const int ERR_TABLE_FULL = -8;
    static const int ERR_NOT_INITED = -9;
    static const int ERR_AFTER_INIT = -10;
    static const int ERR_NOT_LOGGED_IN = -1;
    // The operation exists in the interface but this build does not carry
    // it yet; nothing was done.
    static const int ERR_NOT_AVAILABLE = -100;

    struct TopicEntry {
        int topic_id;
        int resume_type;  // a TE_RESUME_TYPE value, stored unchanged
        bool send_at_login;
        Network::XeloFlow* flow;
    };

    MdApi(const char* flow_path, Parallel::FdReactor* reactor);
    virtual ~MdApi();

    int Release() override;
    int Init() override;
    int Join() override;
    const char* GetTradingDay() override;
    int RegisterFront(const char* address) override;
    int RegisterNameServer(const char* address) override;
    void RegisterSpi(CTarnXeloMduserSpi* spi) override;
    int SubscribeMarketDataTopic(int topic, TE_RESUME_TYPE resume) override;
    int SetHeartbeatTimeout(unsigned int seconds) override;
    int OpenRequestLog(const char* path) override;
    int OpenResponseLog(const char* path) override;
    int ReqUserLogin(CTarnXeloReqUserLoginField* field, int request_id) override;
    int ReqUserLogout(CTarnXeloReqUserLogoutField* field, int request_id) override;
    int ReqUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* field, int request_id) override;
    int ReqSubscribeTopic(CTarnXeloDisseminationField* field, int request_id) override;
    int ReqQryTopic(CTarnXeloDisseminationField* field, int request_id) override;

    // Read access for the start-up code and for tests.
    const char* get_flow_path() const { return flow_path_; }
    int get_front_count() const { return front_count_; }
    const char* get_front(int i) const { return fronts_[i]; }
    int get_name_server_count() const { return name_server_count_; }
    const char* get_name_server(int i) const { return name_servers_[i]; }
    char get_front_mode() const { return front_mode_; }
    unsigned int get_heartbeat_timeout() const { return heartbeat_timeout_; }
    CTarnXeloMduserSpi* get_spi() const { return spi_; }
    int get_topic_count() const { return topic_count_; }
    const TopicEntry& get_topic(int i) const { return topics_[i]; }
    // The entry of topic, found by a linear search in table order, or null.
    TopicEntry* get_market_data_subject(int topic);
    bool is_inited() const { return reactor_ != nullptr; }

  private:
    // Copies at most size - 1 characters and zero-fills the rest.
    static void copy_text(char* dst, const char* src, int size);
    static int open_log(FILE*& log, const char* path);

    char flow_path_[256];
    Parallel::FdReactor* outside_reactor_;
    Parallel::FdReactor* reactor_;  // non-null exactly once Init has run
    CTarnXeloMduserSpi* spi_;
    char fronts_[MAX_FRONTS][MAX_ADDRESS];
    int front_count_;
    char name_servers_[MAX_NAME_SERVERS][MAX_ADDRESS];
    int name_server_count_;
    char front_mode_;  // '1' until a front is registered, then '0'
    TopicEntry topics_[MAX_TOPICS];
    int topic_count_;
    Network::XeloBondClientSession* session_;
    char trading_day_[9];
    char participant_id_[11];
    char user_id_[16];
    int data_center_id_;
    bool logged_in_;
    unsigned int heartbeat_timeout_;  // seconds
    FILE* request_log_;
    FILE* response_log_;
    Base::Sign release_sign_;
    Base::Mutex lock_;
    Parallel::Timer* timer_;
};

}  // namespace Api

#endif  // XELMD_API_MD_API_H
