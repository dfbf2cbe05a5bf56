#ifndef XELMD_API_MD_API_H
#define XELMD_API_MD_API_H

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "api/TarnXeloMduserApi.h"
#include "api/connection_file.h"
#include "api/topic_key.h"
#include "base/data_flow.h"
#include "base/mutex.h"
#include "base/sign.h"
#include "cipher/sm2.h"
#include "network/client_session.h"
#include "network/xelo_flow.h"
#include "parallel/handler.h"

namespace Parallel {
class FdReactor;
struct Timer;
}  // namespace Parallel
namespace Network {
class XeloBondClientSession;
}  // namespace Network
namespace Base {
class FieldDesc;
class Map;
}  // namespace Base
namespace Field {
struct XelRspInfoField;
struct XelUserapiAuthenticInfoField;
}  // namespace Field

namespace Api {

// The one implementation of CTarnXeloMduserApi; also the listener of its own
// session, the handler of its timer and events and the write callback of its
// flows. Registration and request operations: any application thread,
// serialised on lock_. Network state: the reactor thread created by Init.
class MdApi : public CTarnXeloMduserApi,
              public Network::ClientSession,
              public Parallel::Handler,
              public Base::DataFlow::WriteCallback {
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
    static const int ERR_LOGGED_IN = -5;
    static const int ERR_BLANK_PRODUCT = -6;
    static const int ERR_NOT_CONNECTED = -12;
    // A second Release, or a request after Release.
    static const int ERR_RELEASED = -15;
    // Join from a callback: the network thread would wait on itself.
    static const int ERR_ON_NETWORK_THREAD = -16;
    // A request whose packet could not be built; nothing was sent.
    static const int ERR_NOT_AVAILABLE = -100;

    static const int TIMER_ID = 1;
    // Packets of one flow between two recycling passes outside the timer.
    static const unsigned long RECYCLE_EVERY = 1024;
    static const int EVENT_LOGIN = 1001;
    static const unsigned short LOGIN_KIND = 0x1001;
    // kind, request id, the time it may leave (ms), the caller's record
    static const int LOGIN_OBJECT_SIZE = 218;
    static const unsigned long LOGIN_SPACING_MS = 1000;
    // A login held back by the spacing is looked at this often (microseconds).
    static const int LOGIN_TIMER_ID = 2;
    static const int LOGIN_TIMER_US = 50000;
    // (topic, instrument) entries the market-data cache holds at most; an
    // update that would add one more is dropped.
    static const unsigned long MAX_CACHED_INSTRUMENTS = 131072;
    static const int INIT_ENCRYPT_INFO = 25081835;
    // Close reasons of the API's own: unusable key-exchange reply, login
    // response without its record.
    static const int CLOSE_BAD_KEY = -24;
    static const int CLOSE_NO_LOGIN_RECORD = -25;

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

    // Session listener (reactor thread).
    void on_connected() override;
    void on_disconnected(int reason) override;
    // Handler (reactor thread): event 1001 sends queued logins; timer 1 is
    // the periodic work. on_timer keeps every timer.
    int on_event(int id, void* arg) override;
    bool on_timer(int id) override;
    // The loop is about to sleep: the recycling and the connection file
    // asked for since, one task per call; true when one ran.
    bool on_idle() override;

    // The reason OnFrontDisconnected reports for a session close reason.
    static int map_disconnect_reason(int reason);
    // Heartbeat warning rule: the connection has been silent for more than
    // half the timeout, and more than that long has passed since the
    // connection or the last warning. Times in clock ticks, timeout in
    // seconds.
    static bool is_heartbeat_warning_due(unsigned long idle, unsigned long now,
                                         unsigned long last_check, unsigned int timeout);
    // Fills the encrypted terminal information; non-zero on success.
    int encrypt_user_api_info(Field::XelUserapiAuthenticInfoField* out);

    // Read access for the start-up code and for tests.
    const char* get_flow_path() const { return flow_path_; }
    int get_front_count() const { return front_count_; }
    const char* get_front(int i) const { return fronts_[i]; }
    int get_name_server_count() const { return name_server_count_; }
    const char* get_name_server(int i) const { return name_servers_[i]; }
    char get_front_mode() const { return front_mode_; }
    unsigned int get_heartbeat_timeout() const { return heartbeat_timeout_; }
    int get_topic_count() const { return topic_count_; }
    const TopicEntry& get_topic(int i) const { return topics_[i]; }
    // The entry of topic, found by a linear search in table order, or null.
    TopicEntry* get_market_data_subject(int topic);
    bool is_inited() const { return state_.load(std::memory_order_acquire) != STATE_CREATED; }

  private:
    // Created -> starting (Init) -> started -> releasing (Release) ->
    // released. Only Init and Release move it, each by one compare-exchange,
    // so a second or concurrent call sees where the first one got.
    enum State : int {
        STATE_CREATED,
        STATE_STARTING,
        STATE_STARTED,
        STATE_RELEASING,
        STATE_RELEASED,
    };

    // Brackets an application call that may touch the network structures:
    // Release waits for the calls inside before it destroys them, and no
    // call enters once Release has begun.
    class CallScope {
      public:
        explicit CallScope(MdApi* api);
        ~CallScope();
        bool entered() const { return entered_; }

      private:
        MdApi* api_;
        bool entered_;
    };

    // Internal events run on the reactor thread with the caller waiting.
    static const int EVENT_START = 1002;
    static const int EVENT_STOP = 1003;
    static const int EVENT_CHECK_CONNECTION = 1004;
    static const int EVENT_CLOSE = 1005;

    // Copies at most size - 1 characters and zero-fills the rest.
    static void copy_text(char* dst, const char* src, int size);
    static int open_log(FILE*& log, const char* path);
    int add_address(char (*table)[MAX_ADDRESS], int& count, int limit, int& other_count,
                    const char* address);

    // Start-up and shutdown (md_api_init.cc).
    void create_flows(Parallel::FdReactor* reactor);
    void start_session();
    void stop_session();
    void open_addresses(char (*table)[MAX_ADDRESS], int count, bool name_servers);
    void reset_connection();
    // The periodic work; at_once (a closing connection): the recycling
    // and the connection file now rather than when the socket is quiet.
    void timer_work(bool at_once);
    // The end of Release: on the reactor thread once no call is inside.
    void finish_stop(bool deferred);
    void wait_for_calls();
    bool on_network_thread() const;
    // The callback object, or null once Release has been called.
    CTarnXeloMduserSpi* callback_spi() const {
        return quiet_.load(std::memory_order_acquire) ? nullptr
                                                      : spi_.load(std::memory_order_acquire);
    }
    // One line to a log under the log lock, so that opening a log on one
    // thread never closes a file another thread is writing.
    void log_line(FILE* const& log, const Field::XelRspInfoField* info, const char* label,
                  const void* record, const Base::FieldDesc* desc, int struct_size, char* scratch);
    void write_connection_file();
    void run_on_reactor(int id, void* arg);

    // Key exchange and login (md_api_login.cc).
    void send_key_exchange();
    bool set_channel_key();
    // Closes the connection on the reactor's next pass, once the channel has
    // left the read that delivered the packet; a later connection is spared.
    void close_later(int reason);
    void send_queued_logins();
    // Sends the held-back login if its time has come; false while it waits.
    bool send_pending_login(unsigned long now_ms);
    void on_api_req_user_login(CTarnXeloReqUserLoginField* record, int request_id);
    bool is_connected_now();
    bool is_channel_open();

    char flow_path_[256];
    Parallel::FdReactor* outside_reactor_;
    Parallel::FdReactor* reactor_;  // non-null exactly once Init has run
    std::atomic<CTarnXeloMduserSpi*> spi_;
    char fronts_[MAX_FRONTS][MAX_ADDRESS];
    int front_count_;
    char name_servers_[MAX_NAME_SERVERS][MAX_ADDRESS];
    int name_server_count_;
    char front_mode_;       // '1' until a front is registered, then '0'
    Cipher::Sm2 key_pair_;  // a fresh pair per connection
    char public_key_text_[301];
    bool handshake_done_;
    int init_encrypt_info_;
    Base::DataFlow* login_queue_;
    Base::DataFlow::Iterator* login_iterator_;
    Network::XeloFlow* init_flow_;
    Network::XeloFlow::Writer* init_writer_;
    TopicEntry topics_[MAX_TOPICS];
    int topic_count_;
    Network::XeloBondClientSession* session_;
    Network::XeloFlow* response_flow_;
    char trading_day_[9];
    char participant_id_[11];
    char user_id_[16];
    int data_center_id_;
    // Written on the reactor thread, read by requests on application threads.
    std::atomic<bool> logged_in_;
    unsigned int heartbeat_timeout_;  // seconds
    FILE* request_log_;               // both guarded by log_lock_
    FILE* response_log_;
    Base::Mutex log_lock_;
    // Whether response_log_ is open, set under log_lock_: the receive path
    // takes the lock only when there is a log to write.
    std::atomic<bool> response_log_open_{false};
    unsigned long last_login_time_;       // milliseconds
    unsigned long last_heartbeat_check_;  // clock ticks; 0 while not connected
    ConnectionFile connection_file_;
    char connection_path_[256];
    // Set by Release once the timer is gone, so that the close it causes
    // touches neither the timer nor the session being destroyed.
    bool releasing_;
    // Work waiting for on_idle (reactor thread). A period that ends with
    // the connection file still due found no quiet moment, and the timer
    // does the work itself.
    bool recycle_due_;
    bool connection_file_due_;
    unsigned long connection_serial_;  // counts on_connected; reactor thread
    Base::Sign release_sign_;
    Base::Mutex lock_;
    Parallel::Timer* timer_;
    Parallel::Timer* login_timer_;
    std::atomic<int> state_;
    std::atomic<int> calls_inside_;
    // Set by Release before anything else: no callback is made after it.
    std::atomic<bool> quiet_;
    std::atomic<bool> joined_;
    // The reactor thread stopped its own loop (Release from a callback):
    // Join joins and destroys it.
    bool reactor_left_for_join_;
    // pthread id of the network thread while it runs the API, else 0.
    std::atomic<unsigned long> network_thread_;
    // A login the spacing holds back, on the reactor thread.
    struct PendingLogin {
        bool waiting;
        unsigned long due_ms;
        int request_id;
        CTarnXeloReqUserLoginField record;
    } pending_login_;
    bool cache_full_reported_;  // reactor thread; once per connection

    // ---- Requests, flow control and dispatch (api/md_api_request.cc,
    // api/md_api_dispatch.cc, api/md_api_topic.cc) ----
  public:
    // Request flow control; every member unsigned, zeroed by the connection
    // reset, limits set by on_connected. Guarded by lock_.
    struct FluxValue {
        unsigned int sent;
        unsigned int received;
        unsigned int window_base;        // sent at the start of the current window
        unsigned long stamp;             // ms: start of the window or of a stall; 0 none
        unsigned int per_second_limit;   // 0: no rate limit
        unsigned int outstanding_limit;  // 0: no unanswered limit
    };

    static constexpr int ERR_UNANSWERED = -2;
    static constexpr int ERR_RATE = -3;
    static constexpr int ERR_OTHER_PARTICIPANT = -13;
    static constexpr int ERR_OTHER_USER = -14;
    static constexpr unsigned int FLUX_PER_SECOND = 64;
    static constexpr unsigned int FLUX_OUTSTANDING = 32;
    static constexpr unsigned long FLUX_WINDOW_MS = 1000;
    static constexpr unsigned long FLUX_STALL_MS = 10000;
    static constexpr int SCRATCH_SIZE = 4096;
    static constexpr int LOG_SCRATCH_SIZE = 8192;
    // Extra flows for announced topics beyond the 64 table entries.
    static constexpr int MAX_OVERFLOW_TOPICS = 64;

    // 0, ERR_UNANSWERED or ERR_RATE for a request at now (milliseconds); a
    // pure decision on flux. Caller holds lock_.
    static int control_flux(FluxValue* flux, unsigned long now_ms);
    // The same at the clock's now. Caller holds lock_.
    int control_flux(FluxValue* flux);
    // One log line "<17-digit local time>,<label>,[<ErrorID>,<ErrorMsg>,]
    // [Name="value" ...]\n", flushed. struct_size 0: record already in field
    // form; else it is a public record converted through scratch first.
    void write_log(FILE* log, const Field::XelRspInfoField* info, const char* label,
                   const void* record, const Base::FieldDesc* desc, int struct_size, char* scratch);
    static void write_log(FILE* log, const Field::XelRspInfoField* info, const char* label,
                          const void* record, const Base::FieldDesc* desc, int struct_size,
                          char* scratch, unsigned long local_time);
    // YYYYMMDDhhmmssmmm from a Base::Measure::get_time value.
    static unsigned long log_stamp(unsigned long local_time);

    // Every packet appended to the response flow or a topic flow: reactor
    // thread.
    void on_write(unsigned long id, const void* data, unsigned short length) override;

    // Start-up and shutdown helpers (Init, the timer, Release).
    void create_market_data_cache();
    void destroy_market_data_cache();
    // A topic flow as Init makes it: subject topic, 10 MiB blocks, this API
    // as write callback, auto-free off.
    Network::XeloFlow* create_topic_flow(int topic, unsigned long start);
    void recycle_overflow_flows();
    // Asks for the memory of the received flows behind their last packets
    // to be released when the socket is next quiet; a second request with
    // the first still waiting releases it at once.
    void recycle_flows();
    // ... and releases it now.
    void recycle_flows_now();
    void destroy_overflow_flows();

  private:
    friend class MdApiProbe;  // tests

    // Reactor-thread handlers defined with the key exchange and login; the
    // packet iterator stands before the packet's first field.
    void on_rsp_qry_crypt_info();
    // Part of RspUserLogin up to the callback; the info and login records are
    // left in decode_[0] and decode_[1]. True when the response was handled
    // (the dispatcher then writes its log line).
    bool on_rsp_user_login();

    int send_request(unsigned short tid, int request_id, const Base::FieldDesc* desc,
                     const void* record, const char* label, void (*before_log)(void*));
    void count_response();
    bool next_is(unsigned short field_id);
    void dispatch(unsigned int tid, bool last);
    void on_rsp_error(bool last);
    void on_rsp_user_logout(bool last);
    void on_rsp_user_password_update(bool last);
    void on_rsp_subscribe_topic(bool last);
    void on_rsp_qry_topic(bool last);
    void on_rtn_flow_message_cancel();
    void on_rtn_depth_market_data();
    void on_intl_rtn_depth_market_data();
    void on_intl_rtn_dissemination();
    void on_dissemination(int topic, int sequence_no);
    // Appends {topic, TE_RESUME_FROM_NOW, not sent at login}; false when full.
    bool append_announced_topic(int topic);
    // Lets the session append the topic's packets to flow from its position.
    void subscribe_topic_flow(Network::XeloFlow* flow);
    Network::XeloFlow* find_overflow_flow(int topic);
    CTarnXeloDepthMarketDataField* select_instrument(const char* instrument, bool add);
    // False (and one error line per connection) when the cache is full.
    bool has_cache_room();
    void log_response(const void* info, const char* label, const void* record,
                      const Base::FieldDesc* desc, int struct_size);

    static unsigned long get_clock_ms();
    static unsigned long get_local_time();

    // Created by Init (and cleared by the connection reset) like the other
    // flows; the requests here append to it.
    Network::XeloFlow* request_flow_ = nullptr;
    Network::XeloFlow::Writer* request_writer_ = nullptr;
    FluxValue flux_ = {};
    unsigned long (*clock_ms_)() = &get_clock_ms;      // flux time, milliseconds
    unsigned long (*local_time_)() = &get_local_time;  // log time, get_time form
    TopicInstrumentKey instrument_key_ = {};
    Base::Map* md_cache_ = nullptr;  // (topic, instrument) -> depth record
    Network::XeloPacket::Header packet_header_ = {};
    Network::XeloPacket::Iterator packet_iterator_{nullptr, nullptr};
    alignas(8) char request_scratch_[SCRATCH_SIZE] = {};
    alignas(8) char decode_[2][SCRATCH_SIZE] = {};
    alignas(8) char log_scratch_[LOG_SCRATCH_SIZE] = {};
    Network::XeloFlow* overflow_flows_[MAX_OVERFLOW_TOPICS] = {};
    int overflow_count_ = 0;
    // ---- end of requests, flow control and dispatch ----
};

}  // namespace Api

#endif  // XELMD_API_MD_API_H
