#include "tools/front/front_dialogue.h"

#include <cstdarg>
#include <cstring>
#include <ctime>

#include "api/md_api.h"
#include "base/byte_order.h"
#include "base/random.h"
#include "field/xelfield.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_flow_reader.h"
#include "parallel/fd_notify.h"
#include "tools/common/reason_text.h"
#include "tools/front/terminal_check.h"
#include "tools/front/topic_board.h"
#include "tools/front/user_table.h"

namespace Front {

using Network::XeloFlow;
using Network::XeloPacket;

namespace {

const unsigned int BLOCK = 1u << 20;
// Requests between two recycling passes outside the timer: a client sending
// as fast as it can fills a block in well under the timer's second.
const unsigned long RECYCLE_EVERY = 1024;
const unsigned long RECYCLE_INTERVAL_MS = 1000;

enum Tid : unsigned short {
    RSP_ERROR = 0x0001,
    REQ_LOGIN = 0x1001,
    RSP_LOGIN = 0x1002,
    REQ_LOGOUT = 0x1003,
    RSP_LOGOUT = 0x1004,
    REQ_PASSWORD = 0x100F,
    RSP_PASSWORD = 0x1010,
    REQ_SUBSCRIBE = 0x1F01,
    RSP_SUBSCRIBE = 0x1F02,
    REQ_QUERY = 0x4201,
    RSP_QUERY = 0x4202,
    RTN_DISSEMINATION = 0x5901,
    REQ_CRYPT = 0x6091,
    RSP_CRYPT = 0x6092,
};

template <typename R>
bool take(XeloPacket::Iterator& it, int id, R& record) {
    if (id != R::DESC.field_id) return false;
    memset(&record, 0, sizeof record);
    // The decoder keeps every string terminated, whatever width a client
    // filled.
    it.get_field(&record, &R::from_stream, false);
    return true;
}

template <typename R>
void put(XeloPacket* p, const R& record) {
    p->add_field(&R::DESC, &record, &R::to_stream);
}

void copy_text(char* out, size_t size, const char* in) {
    snprintf(out, size, "%s", in);
}

// One generator per reactor thread: a process may run several fronts.
unsigned long random_key() {
    thread_local Base::Random random(static_cast<unsigned int>(time(nullptr)) ^ 0x5a17u);
    return (static_cast<unsigned long>(random.next()) << 32) | random.next();
}

}  // namespace

FrontDialogue::FrontDialogue(FrontContext* context, int connection,
                             const std::vector<Scenario::Fault>& faults)
    : context_(context),
      connection_(connection),
      faults_(faults),
      fired_(faults.size(), false),
      channel_(nullptr),
      in_(DIALOGUE_SUBJECT, BLOCK, BLOCK, nullptr, this, 0, nullptr, false, false),
      out_(DIALOGUE_SUBJECT, BLOCK, BLOCK, nullptr, nullptr, 0, nullptr, false, false),
      writer_(&out_, false),
      stage_(CONNECTED),
      challenge_(static_cast<int>(random_key() % 90000000) + 10000000),
      login_ms_(0),
      login_done_(false),
      stall_until_ms_(0),
      recycled_ms_(0) {}

FrontDialogue::~FrontDialogue() {
    detach();
}

void FrontDialogue::attach(Network::XeloClientChannel* channel) {
    channel_ = channel;
    // Subject 0 (the init flow) falls back to the subject-1 subscription.
    channel_->subscribe(&in_, nullptr, 0, false);
    channel_->publish(&out_, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void FrontDialogue::detach() {
    channel_ = nullptr;
}

void FrontDialogue::on_closed(int reason) {
    if (channel_ != nullptr)
        log("closed (reason %s)",
            ToolCommon::describe_reason(Api::MdApi::map_disconnect_reason(reason)).c_str());
    detach();
}

void FrontDialogue::recycle() {
    // Nothing reads a request again once its callback has run.
    in_.recycle(in_.get_count());
    if (channel_ == nullptr) return;
    recycle_sent(&out_);
    recycle_sent(channel_->get_heartbeat_flow());
}

void FrontDialogue::recycle_sent(Base::DataFlow* flow) {
    // What the channel's reader has passed is sent or copied to its send
    // buffer; a stall keeps the reader (and so its position) in the item.
    Network::FlowChannel::PubItem* item = channel_->get_pub_item(flow->get_subject());
    if (item != nullptr && item->reader != nullptr && item->reader->get_flow() == flow)
        flow->recycle(item->reader->tell());
}

unsigned long FrontDialogue::get_held() const {
    unsigned long in = 0, out = 0;
    in_.get_buffer_count(in);
    out_.get_buffer_count(out);
    return in + out;
}

void FrontDialogue::log(const char* format, ...) {
    if (context_->log == nullptr) return;
    fprintf(context_->log, "[connection %d] ", connection_);
    va_list args;
    va_start(args, format);
    vfprintf(context_->log, format, args);
    va_end(args);
    fputc('\n', context_->log);
    fflush(context_->log);
}

void FrontDialogue::on_write(unsigned long id, const void* data, unsigned short length) {
    if ((id & (RECYCLE_EVERY - 1)) == 0) recycle();
    XeloPacket::Header h;
    const char* fields = XeloFlow::decode(static_cast<const char*>(data), length, &h);
    if (fields == nullptr) return;  // the channel checked it; a short unit is skipped
    XeloPacket::Iterator it(&h, fields);
    context_->packets_in.fetch_add(1, std::memory_order_relaxed);
    switch (h.tid) {
        case REQ_CRYPT:
            on_key_exchange(h, it);
            break;
        case REQ_LOGIN:
            on_login(h, it);
            break;
        case REQ_LOGOUT:
            on_logout(h, it);
            break;
        case REQ_PASSWORD:
            on_password(h, it);
            break;
        case REQ_SUBSCRIBE:
            on_subscribe(h, it);
            break;
        case REQ_QUERY:
            on_query(h, it);
            break;
        default:
            reply_error(h, UNSUPPORTED, "unsupported request");
            break;
    }
}

XeloPacket* FrontDialogue::begin(unsigned short tid, unsigned int request_id) {
    XeloPacket* p = writer_.alloc_packet(tid, 0);
    p->header.request_id = request_id;
    return p;
}

void FrontDialogue::add_info(XeloPacket* p, int error_id, const char* message) {
    Field::XelRspInfoField info;
    memset(&info, 0, sizeof info);
    info.ErrorID = error_id;
    copy_text(info.ErrorMsg, sizeof info.ErrorMsg, message);
    put(p, info);
}

void FrontDialogue::finish() {
    writer_.commit_packet(true);
    context_->packets_out.fetch_add(1, std::memory_order_relaxed);
}

void FrontDialogue::reply_error(const XeloPacket::Header& h, int error_id, const char* message) {
    add_info(begin(RSP_ERROR, h.request_id), error_id, message);
    finish();
}

void FrontDialogue::flush() {
    // The channel enciphers while it stages a batch: what it has staged or
    // sent before the cipher changes goes out in clear.
    for (int round = 0; round < 1000 && channel_ != nullptr && channel_->is_valid(); ++round) {
        int rc = channel_->write();
        if (rc == Network::XeloClientChannel::WRITE_IDLE) return;
        if (rc != Network::XeloClientChannel::WRITE_PROGRESS) {
            // Would block: staged bytes wait in the send buffer, already
            // transformed; only an unstaged reply would be at risk.
            if (channel_->get_pending() > 0 && !channel_->available()) return;
            struct timespec pause = {0, 1000000};
            nanosleep(&pause, nullptr);
        }
    }
}

void FrontDialogue::on_key_exchange(const XeloPacket::Header& h, XeloPacket::Iterator& it) {
    Field::XelUserapiInitAuthInfoField version;
    Field::XelUserapiSessionAuthInfoField text;
    bool ok = take(it, it.next(), version) && take(it, it.next(), text);
    KeyReply::Mode mode = context_->key_mode;
    bool refused = false;
    for (size_t i = 0; i < faults_.size(); ++i) {
        if (faults_[i].action == Scenario::KEY_ERROR) mode = KeyReply::UNUSABLE;
        if (faults_[i].action == Scenario::KEY_REFUSED) refused = true;
    }
    unsigned long key = random_key();
    char reply[KeyReply::TEXT_SIZE];
    if (ok && stage_ == CONNECTED && !refused)
        ok = KeyReply::build(mode, context_->cipher_type, key, text.EncryptUserApiInfo, reply);
    XeloPacket* p = begin(RSP_CRYPT, h.request_id);
    if (!ok || refused || stage_ != CONNECTED) {
        add_info(p, KEY_REFUSED, "key exchange refused");
        Field::XelUserapiInitAuthInfoField init = {challenge_};
        put(p, init);
        finish();
        log("key exchange refused (%s)", refused ? "scripted" : "unusable request");
        return;
    }
    add_info(p, 0, "");
    Field::XelUserapiInitAuthInfoField init = {challenge_};
    put(p, init);
    Field::XelUserapiSessionAuthInfoField session;
    memset(&session, 0, sizeof session);
    memcpy(session.EncryptUserApiInfo, reply, sizeof session.EncryptUserApiInfo - 1);
    put(p, session);
    finish();
    stage_ = KEYED;
    bool ciphered = mode == KeyReply::MASKED || mode == KeyReply::SM2;
    if (ciphered && channel_ != nullptr) {
        flush();
        channel_->set_cipher(static_cast<unsigned char>(context_->cipher_type), key);
    }
    log("key exchange: %s, cipher type %d", KeyReply::get_name(mode),
        ciphered ? context_->cipher_type : 0);
}

void FrontDialogue::on_login(const XeloPacket::Header& h, XeloPacket::Iterator& it) {
    Field::XelReqUserLoginField req;
    if (!take(it, it.next(), req)) {
        reply_error(h, UNSUPPORTED, "login without its record");
        return;
    }
    int topics[TopicBoard::MAX_TOPICS];
    long asked[TopicBoard::MAX_TOPICS];
    int count = 0;
    Field::XelDisseminationField d;
    Field::XelUserapiAuthenticInfoField auth;
    bool has_auth = false;
    for (int id = it.next(); id >= 0; id = it.next()) {
        if (take(it, id, d) && count < TopicBoard::MAX_TOPICS) {
            topics[count] = d.SequenceSeries;
            asked[count++] = d.SequenceNo;
        } else if (take(it, id, auth)) {
            has_auth = true;
        }
    }
    std::string participant = req.ParticipantID;
    int error = stage_ == CONNECTED ? UserTable::NOT_LOGGED_IN
                : stage_ == LOGGED_IN
                    ? ALREADY_LOGGED_IN
                    : context_->users->check(req.UserID, req.Password, &participant);
    if (context_->terminal != nullptr) {
        std::string detail;
        if (!has_auth)
            log("user %s: terminal information missing", req.UserID);
        else if (!context_->terminal->check(auth.EncryptUserApiInfo, challenge_, detail))
            log("user %s: terminal information %s", req.UserID, detail.c_str());
    }
    XeloPacket* p = begin(RSP_LOGIN, h.request_id);
    add_info(p, error,
             error == UserTable::NOT_LOGGED_IN ? "key exchange not done"
             : error == ALREADY_LOGGED_IN      ? "already logged in"
                                               : UserTable::get_message(error));
    Field::XelRspUserLoginField rsp;
    memset(&rsp, 0, sizeof rsp);
    copy_text(rsp.TradingDay, sizeof rsp.TradingDay, context_->trading_day);
    copy_text(rsp.ActionDay, sizeof rsp.ActionDay, context_->trading_day);
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(rsp.LoginTime, sizeof rsp.LoginTime, "%H:%M:%S", &local);
    copy_text(rsp.MaxOrderLocalID, sizeof rsp.MaxOrderLocalID, "0");
    copy_text(rsp.UserID, sizeof rsp.UserID, req.UserID);
    copy_text(rsp.ParticipantID, sizeof rsp.ParticipantID, participant.c_str());
    copy_text(rsp.TradingSystemName, sizeof rsp.TradingSystemName, "xelmd-front");
    rsp.DataCenterID = context_->data_center;
    put(p, rsp);
    finish();
    if (error != 0) {
        log("login of %s refused: %s", req.UserID, UserTable::get_message(error));
        return;
    }
    stage_ = LOGGED_IN;
    user_ = req.UserID;
    participant_ = participant;
    login_done_ = true;
    log("user %s logged in, %d topic(s) asked", req.UserID, count);
    serve(topics, asked, count);
}

void FrontDialogue::serve(const int* topics, const long* asked, int count) {
    int ids[TopicBoard::MAX_TOPICS];
    unsigned long from[TopicBoard::MAX_TOPICS];
    int n = 0;
    for (int i = 0; i < count; ++i) {
        TopicBoard* board = context_->topics;
        int index = board->index_of(topics[i]);
        if (index < 0) {
            log("topic %d asked but not served here", topics[i]);
            continue;
        }
        ids[n] = topics[i];
        from[n++] =
            TopicBoard::serve_from(board->get_flow(index), asked[i], board->get_oldest(index));
    }
    if (n == 0) return;
    XeloPacket* p = begin(RTN_DISSEMINATION, 0);
    for (int i = 0; i < n; ++i) {
        Field::XelDisseminationField d = {static_cast<short>(ids[i]), static_cast<int>(from[i])};
        put(p, d);
    }
    finish();
    if (channel_ == nullptr) return;
    // Publications are written in order, so the announcement above leaves
    // before the first packet of any topic published below.
    for (int i = 0; i < n; ++i) {
        int index = context_->topics->index_of(ids[i]);
        XeloFlow* flow = context_->topics->get_flow(index);
        XeloFlow::DataReader* reader =
            context_->topics->open_reader(index, channel_->get_notify(), from[i]);
        if (reader == nullptr) {
            log("topic %d cannot be served from %lu", ids[i], from[i]);
            continue;
        }
        channel_->publish(flow, nullptr, nullptr, reader, nullptr, nullptr);
        served_.push_back(ids[i]);
        log("topic %d served from %lu", ids[i], from[i]);
    }
}

void FrontDialogue::stop_topics() {
    if (channel_ != nullptr) {
        for (int topic : served_) {
            XeloFlow* flow = context_->topics->find(topic);
            // A cancelled publication keeps its reader, whose cell would hold
            // the topic's history for as long as the connection lives: a
            // reader without one takes its place first.
            channel_->publish(flow, nullptr, nullptr,
                              new XeloFlow::DataReader(flow, nullptr, nullptr, nullptr, nullptr),
                              nullptr, nullptr);
            channel_->cancel_publish(flow);
        }
    }
    served_.clear();
}

void FrontDialogue::on_logout(const XeloPacket::Header& h, XeloPacket::Iterator& it) {
    Field::XelReqUserLogoutField req;
    if (!take(it, it.next(), req)) memset(&req, 0, sizeof req);
    int error = stage_ != LOGGED_IN   ? UserTable::NOT_LOGGED_IN
                : user_ != req.UserID ? UserTable::USER_MISMATCH
                                      : 0;
    XeloPacket* p = begin(RSP_LOGOUT, h.request_id);
    add_info(p, error, UserTable::get_message(error));
    Field::XelRspUserLogoutField rsp;
    memset(&rsp, 0, sizeof rsp);
    copy_text(rsp.UserID, sizeof rsp.UserID, req.UserID);
    copy_text(rsp.ParticipantID, sizeof rsp.ParticipantID, req.ParticipantID);
    put(p, rsp);
    finish();
    if (error != 0) return;
    stop_topics();
    stage_ = KEYED;
    log("user %s logged out", user_.c_str());
}

void FrontDialogue::on_password(const XeloPacket::Header& h, XeloPacket::Iterator& it) {
    Field::XelUserPasswordUpdateField req;
    if (!take(it, it.next(), req)) memset(&req, 0, sizeof req);
    int error =
        stage_ != LOGGED_IN ? UserTable::NOT_LOGGED_IN
        : user_ != req.UserID || participant_ != req.ParticipantID
            ? UserTable::USER_MISMATCH
            : context_->users->change_password(req.UserID, req.OldPassword, req.NewPassword);
    XeloPacket* p = begin(RSP_PASSWORD, h.request_id);
    add_info(p, error, UserTable::get_message(error));
    put(p, req);
    finish();
    log("password change of %s: %s", req.UserID, UserTable::get_message(error));
}

void FrontDialogue::on_subscribe(const XeloPacket::Header& h, XeloPacket::Iterator& it) {
    Field::XelDisseminationField req;
    if (!take(it, it.next(), req)) memset(&req, 0, sizeof req);
    XeloFlow* flow = context_->topics->find(req.SequenceSeries);
    int error = stage_ != LOGGED_IN ? UserTable::NOT_LOGGED_IN
                : flow == nullptr   ? UNKNOWN_TOPIC
                                    : 0;
    Field::XelDisseminationField rsp = req;
    if (error == 0) {
        int index = context_->topics->index_of(req.SequenceSeries);
        rsp.SequenceNo = static_cast<int>(
            TopicBoard::serve_from(flow, req.SequenceNo, context_->topics->get_oldest(index)));
    }
    XeloPacket* p = begin(RSP_SUBSCRIBE, h.request_id);
    add_info(p, error, error == UNKNOWN_TOPIC ? "unknown topic" : UserTable::get_message(error));
    put(p, rsp);
    finish();
    if (error != 0) return;
    int topic = req.SequenceSeries;
    long asked = req.SequenceNo;
    serve(&topic, &asked, 1);
}

void FrontDialogue::on_query(const XeloPacket::Header& h, XeloPacket::Iterator& it) {
    Field::XelDisseminationField req;
    if (!take(it, it.next(), req)) memset(&req, 0, sizeof req);
    TopicBoard* board = context_->topics;
    XeloPacket* p = begin(RSP_QUERY, h.request_id);
    if (stage_ != LOGGED_IN) {
        add_info(p, UserTable::NOT_LOGGED_IN, UserTable::get_message(UserTable::NOT_LOGGED_IN));
    } else if (req.SequenceSeries != 0 && board->find(req.SequenceSeries) == nullptr) {
        add_info(p, UNKNOWN_TOPIC, "unknown topic");
    } else {
        // Topic 0 asks for every topic; each answer holds the topic's count.
        add_info(p, 0, "");
        for (int i = 0; i < board->get_count(); ++i) {
            if (req.SequenceSeries != 0 && board->get_topic(i) != req.SequenceSeries) continue;
            Field::XelDisseminationField d = {static_cast<short>(board->get_topic(i)),
                                              static_cast<int>(board->get_flow(i)->get_count())};
            put(p, d);
        }
    }
    finish();
}

void FrontDialogue::on_timer(unsigned long now_ms) {
    if (channel_ == nullptr || !channel_->is_valid()) return;
    if (stall_until_ms_ != 0 && now_ms >= stall_until_ms_) stall(false);
    if (now_ms - recycled_ms_ >= RECYCLE_INTERVAL_MS) {
        recycle();
        recycled_ms_ = now_ms;
    }
    if (!login_done_) return;
    if (login_ms_ == 0) login_ms_ = now_ms;
    for (size_t i = 0; i < faults_.size() && channel_ != nullptr; ++i) {
        if (fired_[i] || !fault_due(faults_[i], login_ms_, now_ms)) continue;
        if (faults_[i].action == Scenario::KEY_ERROR || faults_[i].action == Scenario::KEY_REFUSED)
            continue;
        fired_[i] = true;
        run_fault(faults_[i], now_ms);
    }
}

void FrontDialogue::run_fault(const Scenario::Fault& fault, unsigned long now_ms) {
    log("fault: %s", Scenario::get_name(fault.action));
    switch (fault.action) {
        case Scenario::DROP:
            channel_->close(Network::XeloClientChannel::CLOSE_PEER);
            break;
        case Scenario::STALL:
            stall(true);
            stall_until_ms_ = fault.seconds == 0 ? 0 : now_ms + fault.seconds * 1000;
            break;
        case Scenario::BAD_SEQUENCE: {
            // A packet of a served topic numbered far past what the client holds.
            if (served_.empty()) break;
            XeloFlow* flow = context_->topics->find(served_[0]);
            char frame[XeloPacket::UNIT_FIELDS_AT];
            XeloFlow::write_prefix(frame, XeloPacket::HEADER_SIZE);
            XeloPacket::Header h = {
                XeloPacket::VERSION, XeloPacket::CHAIN_LAST, 0, 0x5803, 0, 0, 0, 0, 0};
            XeloPacket::to_stream(&h, frame + XeloPacket::UNIT_PREFIX_SIZE);
            XeloFlow::stamp(frame, flow->get_subject(), flow->get_count() + 1000);
            inject(frame, sizeof frame, true);
            break;
        }
        case Scenario::OVERSIZED_FRAME: {
            // A data unit announcing 9000 content bytes: beyond any frame.
            char frame[16] = {2, 0, 0x23, 0x28, 1, 0};
            inject(frame, sizeof frame, false);
            break;
        }
        case Scenario::GARBAGE: {
            std::vector<char> bytes(static_cast<size_t>(fault.bytes < 6 ? 6 : fault.bytes));
            Base::Random random(static_cast<unsigned int>(now_ms));
            for (char& b : bytes) b = static_cast<char>(random.next());
            bytes[0] = 0x55;  // neither a data nor a control unit
            inject(bytes.data(), static_cast<int>(bytes.size()), false);
            break;
        }
        case Scenario::KEY_ERROR:
        case Scenario::KEY_REFUSED:
            break;
    }
}

void FrontDialogue::stall(bool on) {
    if (channel_ == nullptr) return;
    Base::DataFlow* heartbeat = channel_->get_heartbeat_flow();
    if (on) {
        // Every publication keeps its reader and position but loses its flow.
        stalled_.clear();
        stalled_.push_back(heartbeat);
        stalled_.push_back(&out_);
        for (int topic : served_) stalled_.push_back(context_->topics->find(topic));
        for (Base::DataFlow* flow : stalled_) channel_->cancel_publish(flow);
        return;
    }
    for (Base::DataFlow* flow : stalled_) {
        Network::FlowChannel::PubItem* item = channel_->get_pub_item(flow->get_subject());
        if (item != nullptr) item->flow = flow;
    }
    stalled_.clear();
    stall_until_ms_ = 0;
    log("stall over");
}

void FrontDialogue::inject(const char* frame, int length, bool encipher) {
    // Whole units only: wait for what is pending to leave first.
    flush();
    if (channel_ == nullptr || channel_->get_pending() > 0) {
        log("fault skipped: the connection is congested");
        return;
    }
    std::vector<unsigned char> bytes(frame, frame + length);
    if (encipher && channel_->get_cipher_type() != 0)
        channel_->encode(bytes.data() + 4, bytes.data() + 4, length - 4);
    channel_->write(reinterpret_cast<const char*>(bytes.data()), length);
}

}  // namespace Front
