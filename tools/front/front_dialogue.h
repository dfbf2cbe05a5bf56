#ifndef XELMD_TOOLS_FRONT_FRONT_DIALOGUE_H
#define XELMD_TOOLS_FRONT_FRONT_DIALOGUE_H

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "network/xelo_flow.h"
#include "tools/front/key_reply.h"
#include "tools/front/scenario.h"

namespace Network {
class XeloClientChannel;
}

namespace Front {

class TerminalCheck;
class TopicBoard;
class UserTable;

// What every connection of one front shares. Read-only for the dialogues
// except the user table (password changes) and the counters.
struct FrontContext {
    KeyReply::Mode key_mode = KeyReply::MASKED;
    int cipher_type = 4;
    const char* trading_day = "20250912";
    int data_center = 1;
    UserTable* users = nullptr;
    TerminalCheck* terminal = nullptr;  // null: terminal information not checked
    TopicBoard* topics = nullptr;
    FILE* log = nullptr;  // one line per notable event; null: quiet
    // Read by status lines on other threads.
    std::atomic<unsigned long> packets_in{0};
    std::atomic<unsigned long> packets_out{0};
};

// The front's side of one connection: answers the key exchange (and sets the
// channel cipher once the reply has left), the login (users, terminal
// information), logout, password change, topic subscription and query, and
// serves each topic from the position asked: the announcement first, then
// the topic's packets. Scripted faults fire from on_timer. Reactor thread.
class FrontDialogue : public Base::DataFlow::WriteCallback {
  public:
    enum Stage { CONNECTED, KEYED, LOGGED_IN };
    static constexpr int DIALOGUE_SUBJECT = 1;
    // Error ids of the front's answers besides the user table's.
    static constexpr int KEY_REFUSED = 6;
    static constexpr int UNKNOWN_TOPIC = 7;
    static constexpr int UNSUPPORTED = 8;
    static constexpr int ALREADY_LOGGED_IN = 9;

    FrontDialogue(FrontContext* context, int connection,
                  const std::vector<Scenario::Fault>& faults);
    virtual ~FrontDialogue();
    FrontDialogue(const FrontDialogue&) = delete;
    FrontDialogue& operator=(const FrontDialogue&) = delete;

    // On a freshly connected channel: publishes the answers and subscribes
    // the client's init and request packets.
    void attach(Network::XeloClientChannel* channel);
    // The channel is closing or gone: nothing more is touched.
    void detach();
    // The connection closed for the channel's reason: logged, then detached.
    void on_closed(int reason);
    // Runs the scripted faults that are due; now in milliseconds.
    void on_timer(unsigned long now_ms);
    // A packet from the client (the inbound flow's write callback).
    void on_write(unsigned long id, const void* data, unsigned short length) override;

    // Gives back the memory of the requests handled and of the answers and
    // heartbeats already sent; on_write and on_timer run it as they go.
    void recycle();
    // Packets the dialogue's two flows hold in memory (requests, answers).
    unsigned long get_held() const;

    Stage get_stage() const { return stage_; }
    int get_connection() const { return connection_; }
    const char* get_user() const { return user_.c_str(); }

  private:
    void on_key_exchange(const Network::XeloPacket::Header& h, Network::XeloPacket::Iterator& it);
    void on_login(const Network::XeloPacket::Header& h, Network::XeloPacket::Iterator& it);
    void on_logout(const Network::XeloPacket::Header& h, Network::XeloPacket::Iterator& it);
    void on_password(const Network::XeloPacket::Header& h, Network::XeloPacket::Iterator& it);
    void on_subscribe(const Network::XeloPacket::Header& h, Network::XeloPacket::Iterator& it);
    void on_query(const Network::XeloPacket::Header& h, Network::XeloPacket::Iterator& it);
    void reply_error(const Network::XeloPacket::Header& h, int error_id, const char* message);

    Network::XeloPacket* begin(unsigned short tid, unsigned int request_id);
    void add_info(Network::XeloPacket* p, int error_id, const char* message);
    void finish();
    // Announces the topics in one packet, then publishes each from its position.
    void serve(const int* topics, const long* asked, int count);
    void stop_topics();
    void flush();
    void run_fault(const Scenario::Fault& fault, unsigned long now_ms);
    void stall(bool on);
    void recycle_sent(Base::DataFlow* flow);
    void inject(const char* frame, int length, bool encipher);
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    FrontContext* context_;
    int connection_;
    std::vector<Scenario::Fault> faults_;
    std::vector<bool> fired_;
    Network::XeloClientChannel* channel_;
    Network::XeloFlow in_;
    Network::XeloFlow out_;
    Network::XeloFlow::Writer writer_;
    Stage stage_;
    int challenge_;
    std::string user_, participant_;
    unsigned long login_ms_;
    bool login_done_;
    std::vector<int> served_;
    // Flows whose publication a stall holds back, by subject.
    std::vector<Base::DataFlow*> stalled_;
    unsigned long stall_until_ms_;
    unsigned long recycled_ms_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_FRONT_DIALOGUE_H
