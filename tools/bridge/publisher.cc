#include "tools/bridge/publisher.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/bridge/subject.h"

namespace Bridge {

namespace {

const int PAUSE_MS = 20;
const int MARKER_INTERVAL_MS = 50;
// After a refusal (no stream leader, a server going away) publishing again
// at once would only spin.
const int REFUSAL_BACKOFF_MS = 100;
const int64_t NS_PER_SECOND = 1000000000LL;

std::string status_text(natsStatus s, jsErrCode code = static_cast<jsErrCode>(0)) {
    std::string text = natsStatus_GetText(s);
    if (code != 0) text += " (JetStream error " + std::to_string(static_cast<int>(code)) + ")";
    return text;
}

// A number's decimal text without an allocation.
struct Number {
    explicit Number(long value) { *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0'; }
    char text[24];
};

bool set_header(natsMsg* msg, const char* key, const std::string& value) {
    return natsMsgHeader_Set(msg, key, value.c_str()) == NATS_OK;
}

}  // namespace

Publisher::Publisher(const Options& options, UpdateQueue& queue, Metrics& metrics)
    : options_(options), queue_(queue), metrics_(metrics), payload_(options.format) {}

Publisher::~Publisher() {
    quit_.store(true);
    if (thread_.joinable()) thread_.join();
    // Closed first: no acknowledgement callback runs after this.
    if (connection_ != nullptr) natsConnection_Close(connection_);
    if (js_ != nullptr) jsCtx_Destroy(js_);
    if (connection_ != nullptr) natsConnection_Destroy(connection_);
    if (nats_options_ != nullptr) natsOptions_Destroy(nats_options_);
    for (auto& r : retries_) natsMsg_Destroy(r.second.second);
}

bool Publisher::connect(int timeout_ms, std::string& error) {
    std::vector<const char*> servers;
    for (const std::string& s : options_.nats) servers.push_back(s.c_str());
    natsStatus s = natsOptions_Create(&nats_options_);
    if (s == NATS_OK)
        s = natsOptions_SetServers(nats_options_, servers.data(), static_cast<int>(servers.size()));
    // Reconnects for ever; the buffer bounds what waits meanwhile.
    if (s == NATS_OK) s = natsOptions_SetMaxReconnect(nats_options_, -1);
    if (s == NATS_OK) s = natsOptions_SetReconnectWait(nats_options_, 250);
    if (s == NATS_OK) s = natsOptions_SetTimeout(nats_options_, 2000);
    // No client-side buffer while reconnecting: a publish then fails and the
    // message waits here, behind those the old connection lost, instead of
    // reaching the server ahead of them.
    if (s == NATS_OK) s = natsOptions_SetReconnectBufSize(nats_options_, 1);
    if (s == NATS_OK) s = natsOptions_SetDisconnectedCB(nats_options_, on_disconnected, this);
    if (s == NATS_OK) s = natsOptions_SetReconnectedCB(nats_options_, on_reconnected, this);
    if (s != NATS_OK) {
        error = "NATS options refused: " + status_text(s);
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while ((s = natsConnection_Connect(&connection_, nats_options_)) != NATS_OK) {
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "NATS not reachable at " + options_.nats.front() +
                    (options_.nats.size() > 1 ? " (or the other servers)" : "") + ": " +
                    status_text(s);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    jsOptions js_options;
    jsOptions_Init(&js_options);
    js_options.PublishAsync.MaxPending = options_.max_inflight;
    js_options.PublishAsync.AckHandler = on_ack;
    js_options.PublishAsync.AckHandlerClosure = this;
    js_options.PublishAsync.StallWait = PAUSE_MS;
    s = natsConnection_JetStream(&js_, connection_, &js_options);
    if (s != NATS_OK) {
        error = "JetStream context: " + status_text(s);
        return false;
    }
    connected_.store(true, std::memory_order_release);
    return true;
}

int Publisher::prepare_stream(std::string& error) {
    const std::string subjects = options_.prefix + ".>";
    jsStreamInfo* info = nullptr;
    jsErrCode code = static_cast<jsErrCode>(0);
    natsStatus s = js_GetStreamInfo(&info, js_, options_.stream.c_str(), nullptr, &code);
    if (s == NATS_NOT_FOUND) {
        jsStreamConfig config;
        jsStreamConfig_Init(&config);
        const char* list[] = {subjects.c_str()};
        config.Name = options_.stream.c_str();
        config.Subjects = list;
        config.SubjectsLen = 1;
        config.Storage = js_FileStorage;
        config.Replicas = options_.replicas;
        if (options_.max_age > 0) config.MaxAge = options_.max_age * NS_PER_SECOND;
        if (options_.max_bytes > 0) config.MaxBytes = options_.max_bytes;
        config.Duplicates = options_.dup_window * NS_PER_SECOND;
        config.AllowDirect = true;
        s = js_AddStream(&info, js_, &config, nullptr, &code);
        if (s == NATS_OK) {
            jsStreamInfo_Destroy(info);
            return 0;
        }
        // Another bridge may have created it meanwhile: checked below.
        s = js_GetStreamInfo(&info, js_, options_.stream.c_str(), nullptr, &code);
    }
    if (s != NATS_OK) {
        error = "cannot create or read stream " + options_.stream + ": " + status_text(s, code);
        return 4;
    }
    std::string differences;
    const jsStreamConfig* c = info->Config;
    bool has_subjects = false;
    for (int i = 0; i < c->SubjectsLen; ++i) has_subjects |= subjects == c->Subjects[i];
    if (!has_subjects) differences += " its subjects do not include " + subjects + ";";
    if (c->Storage != js_FileStorage) differences += " its storage is not file;";
    if (c->Replicas != options_.replicas)
        differences += " it has " + std::to_string(c->Replicas) + " replicas, not " +
                       std::to_string(options_.replicas) + ";";
    jsStreamInfo_Destroy(info);
    if (differences.empty()) return 0;
    differences.pop_back();
    error = "stream " + options_.stream + " exists with other settings:" + differences +
            " (give matching --prefix/--replicas or another --stream)";
    return 1;
}

namespace {

// A header's non-negative number; false when missing or not one.
bool header_number(natsMsg* msg, const char* key, long& value) {
    const char* text = nullptr;
    char* end = nullptr;
    if (natsMsgHeader_Get(msg, key, &text) != NATS_OK) return false;
    value = strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && value >= 0;
}

// The first packet is left out when unknown (a commit point read from an
// older bridge names none).
std::string commit_body(int topic, long seq, long first) {
    std::string body =
        "{\"Topic\":\"" + std::to_string(topic) + "\",\"SequenceNo\":\"" + std::to_string(seq);
    if (first >= 0) body += "\",\"First\":\"" + std::to_string(first);
    return body + "\"}";
}

}  // namespace

bool Publisher::read_commits(std::string& error) {
    for (const Options::Topic& t : options_.topics) {
        const std::string subject = Subject::commit(options_.prefix, t.id);
        natsMsg* msg = nullptr;
        jsErrCode code = static_cast<jsErrCode>(0);
        natsStatus s =
            js_GetLastMsg(&msg, js_, options_.stream.c_str(), subject.c_str(), nullptr, &code);
        if (s == NATS_NOT_FOUND) continue;
        if (s != NATS_OK) {
            error = "cannot read the commit point on " + subject + ": " + status_text(s, code);
            return false;
        }
        long seq = -1, first = PacketLedger::UNKNOWN;
        bool valid = header_number(msg, "Xelmd-Seq", seq);
        // A commit point written without its first packet resumes without
        // rebuilding the merged records.
        const char* text = nullptr;
        bool named = natsMsgHeader_Get(msg, "Xelmd-First", &text) == NATS_OK;
        if (named && (!header_number(msg, "Xelmd-First", first) || first > seq + 1)) valid = false;
        natsMsg_Destroy(msg);
        if (!valid) {
            error =
                "the last message on " + subject + " has no valid Xelmd-Seq or Xelmd-First header";
            return false;
        }
        ledger_.set_commit(t.id, seq, first);
        std::lock_guard<std::mutex> lock(mutex_);
        marker_acked_[t.id] = seq;
        marker_sent_[t.id] = seq;
    }
    return true;
}

void Publisher::start() {
    last_markers_ = std::chrono::steady_clock::now();
    retry_after_ = last_markers_;
    thread_ = std::thread(&Publisher::run, this);
}

bool Publisher::finish(int limit_ms) {
    stopping_.store(true);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!done_.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(PAUSE_MS));
    quit_.store(true);
    if (thread_.joinable()) thread_.join();
    return done_.load();
}

std::string Publisher::error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::string Publisher::last_error() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_error_;
}

size_t Publisher::buffered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size() + retries_.size();
}

void Publisher::run() {
    while (!quit_.load()) {
        step();
        if (stopping_.load() && drained()) {
            done_.store(true);
            return;
        }
    }
}

void Publisher::step() {
    // Read before the reconnection flag, which is raised first: once the
    // connection is seen back, what the old one lost is reclaimed before
    // anything newer goes out.
    const bool up = connected();
    if (reconnected_.load(std::memory_order_acquire) && reconnected_.exchange(false))
        reclaim_pending();
    if (!up || !publish_retries()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(PAUSE_MS));
        return;
    }
    wait_for_room();
    if (has_room()) {
        Update update;
        if (queue_.pop(update, PAUSE_MS)) publish_update(update);
    }
    publish_markers(stopping_.load());
}

// After a reconnection or a refusal, one message at a time until one is
// acknowledged: a stream still recovering would otherwise refuse the first
// messages of a burst and store those behind them, out of order.
bool Publisher::has_room() const {
    long limit = careful_.load(std::memory_order_acquire) ? 1 : options_.max_inflight;
    return metrics_.in_flight.load() < limit;
}

void Publisher::wait_for_room() {
    if (has_room()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    acked_.wait_for(lock, std::chrono::milliseconds(PAUSE_MS), [this] { return has_room(); });
}

bool Publisher::drained() {
    if (queue_.size() != 0 || metrics_.in_flight.load() != 0) return false;
    std::map<int, long> commits = ledger_.commits();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!retries_.empty()) return false;
    for (const auto& c : commits) {
        auto m = marker_acked_.find(c.first);
        if (c.second >= 0 && (m == marker_acked_.end() || m->second < c.second)) return false;
    }
    return true;
}

// In the pipeline, each message expects the one published before it to be
// the stream's last: a message that arrives after a lost one (the client
// resends what it had buffered when a connection comes back) is refused
// instead of stored ahead of it. After a refusal or a reconnection, the
// oldest message waiting goes alone, once nothing else is out, and expects
// nothing; the pipeline resumes when it is acknowledged. A repeat is
// recognised by its id before any expectation. Nothing sent later goes out
// while earlier messages wait to be published again (false: the caller
// keeps it).
bool Publisher::send(natsMsg*& msg, const Key& key) {
    jsPubOptions options;
    jsPubOptions_Init(&options);
    // Without a wait of its own, a lost acknowledgement is never reported.
    options.MaxWait = options_.ack_wait_ms;
    const char* id = nullptr;
    natsMsgHeader_Get(msg, "Nats-Msg-Id", &id);
    std::string this_id = id != nullptr ? id : "";
    bool probe = false;
    {
        // Failures enter retries_ under this lock before in_flight drops.
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t order = order_of(key);  // numbered when first sent
        if (!retries_.empty() && retries_.begin()->first < order) return false;
        probe = (careful_.load(std::memory_order_acquire) || last_sent_id_.empty()) &&
                metrics_.in_flight.load() == 0;
        if (probe) probe_ = key;
    }
    if (probe)
        natsMsgHeader_Delete(msg, "Nats-Expected-Last-Msg-Id");
    else
        options.ExpectLastMsgId = last_sent_id_.c_str();
    metrics_.in_flight.fetch_add(1);
    if (js_PublishMsgAsync(js_, &msg, &options) == NATS_OK) {
        last_sent_id_ = this_id;
        return true;
    }
    metrics_.in_flight.fetch_sub(1);
    return false;
}

void Publisher::keep_for_retry(const Key& key, natsMsg* msg) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::pair<Key, natsMsg*>& slot = retries_[order_of(key)];
    if (slot.second != nullptr && slot.second != msg) natsMsg_Destroy(slot.second);
    slot = {key, msg};
}

uint64_t Publisher::order_of(const Key& key) {
    auto o = order_.emplace(key, next_order_);
    if (o.second) ++next_order_;
    return o.first->second;
}

// In first-send order, so that a topic's updates reach the stream in their
// order again; false while some remain (no room, or the server refuses).
bool Publisher::publish_retries() {
    for (;;) {
        if (!connected() || !has_room()) return false;
        Key key;
        natsMsg* msg = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (retries_.empty()) return true;
            if (std::chrono::steady_clock::now() < retry_after_) return false;
            key = retries_.begin()->second.first;
            msg = retries_.begin()->second.second;
            retries_.erase(retries_.begin());
        }
        if (!send(msg, key)) {
            keep_for_retry(key, msg);
            std::lock_guard<std::mutex> lock(mutex_);
            retry_after_ =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(REFUSAL_BACKOFF_MS);
            return false;
        }
        metrics_.republished.fetch_add(1);
    }
}

// Messages the client still waits for when the connection came back are
// taken back and published again: what the old connection lost is then
// stored in order, what it delivered is dropped as a duplicate.
void Publisher::reclaim_pending() {
    // Nothing out, nothing to take back; and before the first publish the
    // client has no pending list to read (it would crash on it).
    if (metrics_.in_flight.load() == 0) return;
    natsMsgList pending;
    memset(&pending, 0, sizeof pending);
    if (js_PublishAsyncGetPendingList(&pending, js_) != NATS_OK) return;
    for (int i = 0; i < pending.Count; ++i) {
        Key key;
        if (!parse_key(pending.Msgs[i], key)) continue;
        keep_for_retry(key, pending.Msgs[i]);
        pending.Msgs[i] = nullptr;
        metrics_.in_flight.fetch_sub(1);
    }
    natsMsgList_Destroy(&pending);
}

void Publisher::publish_update(const Update& update) {
    if (update.kind == Update::PACKET_END) {
        ledger_.ended(update.topic, update.seq, update.index);
        return;
    }
    // A packet's updates come one after another: its entry is made once.
    if (update.topic != last_topic_ || update.seq != last_seq_) {
        ledger_.published(update.topic, update.seq, update.index);
        last_topic_ = update.topic;
        last_seq_ = update.seq;
    }
    std::string& body = body_;
    if (!payload_.encode(update, body)) {
        std::lock_guard<std::mutex> lock(mutex_);
        error_ = "an update of topic " + std::to_string(update.topic) + " packet " +
                 std::to_string(update.seq) + " has no text form";
        failed_.store(true, std::memory_order_release);
        return;
    }
    Subject::data(subject_, options_.prefix, update.topic, update.depth.InstrumentID,
                  sizeof update.depth.InstrumentID);
    Subject::data_id(id_, update.topic, update.seq, update.index);
    Number topic(update.topic), seq(update.seq), index(update.index);
    natsMsg* msg = nullptr;
    if (natsMsg_Create(&msg, subject_.c_str(), nullptr, body.data(),
                       static_cast<int>(body.size())) != NATS_OK ||
        natsMsgHeader_Set(msg, "Nats-Msg-Id", id_.c_str()) != NATS_OK ||
        natsMsgHeader_Set(msg, "Xelmd-Topic", topic.text) != NATS_OK ||
        natsMsgHeader_Set(msg, "Xelmd-Seq", seq.text) != NATS_OK ||
        natsMsgHeader_Set(msg, "Xelmd-Index", index.text) != NATS_OK) {
        // Out of memory: nothing sensible remains but to stop.
        abort();
    }
    metrics_.published.fetch_add(1);
    const Key key(update.topic, update.seq, update.index);
    if (!send(msg, key)) keep_for_retry(key, msg);
}

void Publisher::publish_markers(bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last_markers_ < std::chrono::milliseconds(MARKER_INTERVAL_MS)) return;
    last_markers_ = now;
    for (const auto& c : ledger_.points()) {
        const long seq = c.second.commit;
        auto sent = marker_sent_.find(c.first);
        if (seq < 0 || (sent != marker_sent_.end() && sent->second >= seq)) continue;
        marker_sent_[c.first] = seq;
        natsMsg* msg = nullptr;
        const std::string subject = Subject::commit(options_.prefix, c.first);
        const std::string body = commit_body(c.first, seq, c.second.first);
        if (natsMsg_Create(&msg, subject.c_str(), nullptr, body.data(),
                           static_cast<int>(body.size())) != NATS_OK ||
            !set_header(msg, "Nats-Msg-Id", Subject::commit_id(c.first, seq)) ||
            !set_header(msg, "Xelmd-Topic", std::to_string(c.first)) ||
            !set_header(msg, "Xelmd-Seq", std::to_string(seq)) ||
            (c.second.first >= 0 &&
             !set_header(msg, "Xelmd-First", std::to_string(c.second.first))))
            abort();
        const Key key(c.first, seq, COMMIT_INDEX);
        if (!send(msg, key)) keep_for_retry(key, msg);
    }
}

bool Publisher::parse_key(natsMsg* msg, Key& key) {
    const char* id = nullptr;
    if (msg == nullptr || natsMsgHeader_Get(msg, "Nats-Msg-Id", &id) != NATS_OK) return false;
    // Every acknowledgement comes through here: no scanf.
    const char* end = id + strlen(id);
    int topic = 0;
    long seq = 0;
    int index = 0;
    auto t = std::from_chars(id, end, topic);
    if (t.ec != std::errc() || t.ptr == end || *t.ptr != ':') return false;
    auto s = std::from_chars(t.ptr + 1, end, seq);
    if (s.ec != std::errc() || s.ptr == end || *s.ptr != ':') return false;
    const char* rest = s.ptr + 1;
    if (strcmp(rest, "commit") == 0) {
        index = COMMIT_INDEX;
    } else {
        auto i = std::from_chars(rest, end, index);
        if (i.ec != std::errc() || i.ptr != end) return false;
    }
    key = Key(topic, seq, index);
    return true;
}

void Publisher::on_ack(jsCtx*, natsMsg* msg, jsPubAck* ack, jsPubAckErr* error, void* self) {
    Publisher* p = static_cast<Publisher*>(self);
    Key key;
    bool known = parse_key(msg, key);
    if (ack == nullptr || error != nullptr) {
        p->metrics_.failures.fetch_add(1);
        p->careful_.store(true, std::memory_order_release);
        if (known) {
            std::lock_guard<std::mutex> lock(p->mutex_);
            if (error != nullptr) {
                p->last_error_ =
                    error->ErrText != nullptr ? error->ErrText : natsStatus_GetText(error->Err);
                // A refused expectation only follows an earlier loss.
                if (error->Err != NATS_TIMEOUT && error->ErrCode != JSStreamWrongLastMsgIDErr)
                    p->retry_after_ = std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(REFUSAL_BACKOFF_MS);
            }
        }
        if (known)
            p->keep_for_retry(key, msg);
        else
            natsMsg_Destroy(msg);
    } else {
        if (known) {
            std::lock_guard<std::mutex> lock(p->mutex_);
            p->order_.erase(key);
            // A duplicate may be a message stored before the chain began,
            // possibly the stream's last: something expecting it could then
            // be stored ahead of older ones. The chain starts on a message
            // this publish stored.
            if (key == p->probe_ && !ack->Duplicate)
                p->careful_.store(false, std::memory_order_release);
        }
        if (!known) {
        } else if (std::get<2>(key) == COMMIT_INDEX) {
            std::lock_guard<std::mutex> lock(p->mutex_);
            long& acked = p->marker_acked_[std::get<0>(key)];
            if (acked < std::get<1>(key)) acked = std::get<1>(key);
            p->metrics_.markers.fetch_add(1);
        } else {
            p->ledger_.acked(std::get<0>(key), std::get<1>(key), std::get<2>(key));
            p->metrics_.acknowledged.fetch_add(1);
            if (ack->Duplicate) p->metrics_.duplicates.fetch_add(1);
        }
        natsMsg_Destroy(msg);
    }
    p->metrics_.in_flight.fetch_sub(1);
    p->acked_.notify_all();
}

void Publisher::on_disconnected(natsConnection*, void* self) {
    static_cast<Publisher*>(self)->connected_.store(false, std::memory_order_release);
}

void Publisher::on_reconnected(natsConnection*, void* self) {
    Publisher* p = static_cast<Publisher*>(self);
    p->metrics_.nats_reconnections.fetch_add(1);
    p->careful_.store(true, std::memory_order_release);
    p->reconnected_.store(true);
    p->connected_.store(true, std::memory_order_release);
}

}  // namespace Bridge
