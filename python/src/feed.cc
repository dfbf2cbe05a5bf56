#include "feed.h"

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

#include "api.h"

namespace PyXelmd {

namespace {
// The longest the consumer waits without looking at signals.
constexpr double kSlice = 0.1;

py::object error_type(const char* name) {
    return py::module_::import("xelmd").attr(name);
}

[[noreturn]] void raise(py::object error) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}
}  // namespace

Feed::Feed(FeedOptions options)
    : options_(std::move(options)),
      api_(nullptr),
      closed_(false),
      ring_(options_.capacity),
      ring_rows_(options_.capacity) {
    std::string flow;
    if (!options_.state_dir.empty()) {
        state_.reset(new FeedState(options_.state_dir));
        std::string error;
        if (!state_->load(error)) raise(py::module_::import("builtins").attr("OSError")(error));
        flow = state_->flow_path();
    }
    api_ = CTarnXeloMduserApi::CreateXeloMduserApi(flow.c_str());
    api_->RegisterSpi(this);
    try {
        configure();
    } catch (...) {
        api_->Join();  // never started: Join frees it
        throw;
    }
}

void Feed::configure() {
    for (const std::string& f : options_.fronts) check(api_->RegisterFront(f.c_str()));
    for (const std::string& n : options_.name_servers) check(api_->RegisterNameServer(n.c_str()));
    for (auto& t : options_.topics) {
        // A topic the state file knows starts again from its origin.
        int resume = state_ && state_->resumed(t.first) ? TE_RESUME_FROM_SAVED : t.second;
        check(api_->SubscribeMarketDataTopic(t.first, static_cast<TE_RESUME_TYPE>(resume)));
        subscribed_.insert(t.first);
    }
    if (options_.heartbeat != 0) check(api_->SetHeartbeatTimeout(options_.heartbeat));
}

Feed::~Feed() {
    try {
        close();
    } catch (...) {
    }
}

void Feed::start(double timeout) {
    int result;
    {
        py::gil_scoped_release unlocked;
        result = api_->Init();
    }
    check(result);
    enlist();
    if (!wait(timeout, [this] { return login_ != Login::Pending; }))
        raise(py::reinterpret_borrow<py::object>(PyExc_TimeoutError)(
            "no login answer within the timeout"));
    raise_if_stopped();
}

template <typename P>
bool Feed::wait(double timeout, P pred) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    for (;;) {
        bool done;
        double left =
            timeout < 0 ? kSlice
                        : std::chrono::duration<double>(deadline - std::chrono::steady_clock::now())
                              .count();
        {
            py::gil_scoped_release unlocked;
            std::unique_lock<std::mutex> lock(mutex_);
            auto slice = std::chrono::duration<double>(std::max(0.0, std::min(left, kSlice)));
            done = ready_.wait_for(lock, slice, pred);
        }
        if (done) return true;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (timeout >= 0 && left <= kSlice) return false;
    }
}

void Feed::raise_if_stopped() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (count_ > 0) return;
    if (login_ == Login::Refused) {
        int id = error_id_;
        std::string msg = error_msg_;
        lock.unlock();
        raise(error_type("LoginError")(id, msg));
    }
    if (overflow_) {
        int topic = overflow_topic_, sequence = overflow_sequence_;
        lock.unlock();
        raise(error_type("FeedOverflow")(topic, sequence));
    }
}

py::object Feed::dtype() {
    static py::object* type = new py::object(py::module_::import("numpy").attr("dtype")(
        Records::numpy_layout(Records::depth_row(), sizeof(DepthRow))));
    return *type;
}

void Feed::copy_out(DepthRow* out, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < n; ++i) {
        size_t at = (head_ + i) % ring_.size();
        out[i] = ring_[at];
        if (state_) state_->handed_out(out[i].Topic, out[i].SequenceNo, ring_rows_[at]);
    }
    head_ = (head_ + n) % ring_.size();
    count_ -= n;
}

py::object Feed::read_batch(size_t max_rows, double timeout) {
    auto ready = [this] { return count_ > 0 || login_ == Login::Refused || overflow_; };
    bool busy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        busy = count_ > 0 && count_ < max_rows;
    }
    if (busy) {
        // Rows waited already: the stream outruns the reader. A short pause
        // gathers a bigger batch, so the network thread and the reader stop
        // taking turns on the queue for a few rows each.
        py::gil_scoped_release unlocked;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    size_t n = 0;
    if (wait(timeout, ready)) {
        raise_if_stopped();
        std::lock_guard<std::mutex> lock(mutex_);
        n = std::min(count_, max_rows);
    }
    py::object batch = py::module_::import("numpy").attr("empty")(n, dtype());
    auto* rows = reinterpret_cast<DepthRow*>(py::buffer(batch).request(true).ptr);
    py::gil_scoped_release unlocked;
    copy_out(rows, n);
    save_state(false);
    // Null prices read NaN in a batch, so NumPy and pandas skip them.
    for (size_t i = 0; i < n; ++i)
        for (const Member& m : Records::depth())
            if (m.kind == Kind::Double) {
                char* p = reinterpret_cast<char*>(&rows[i]) + m.offset;
                double v;
                memcpy(&v, p, sizeof v);
                if (v == DBL_MAX) v = NAN;
                memcpy(p, &v, sizeof v);
            }
    return batch;
}

py::object Feed::next_update(double timeout) {
    auto ready = [this] { return count_ > 0 || login_ == Login::Refused || overflow_; };
    if (!wait(timeout, ready)) return py::none();
    raise_if_stopped();
    DepthRow row;
    {
        py::gil_scoped_release unlocked;
        copy_out(&row, 1);
        save_state(false);
    }
    return py::make_tuple(row.Topic, row.SequenceNo,
                          Records::to_python(Records::depth(), &row.record));
}

void Feed::close() {
    if (closed_) return;
    closed_ = true;
    {
        py::gil_scoped_release unlocked;
        api_->Release();
        api_->Join();
        save_state(true);
    }
    api_ = nullptr;
    delist();
    int fd = event_fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

int Feed::event_fd() {
    if (event_fd_.load() < 0) {
        int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd < 0) {
            PyErr_SetFromErrno(PyExc_OSError);
            throw py::error_already_set();
        }
        event_fd_.store(fd);
    }
    return event_fd_.load();
}

void Feed::wake() {
    int fd = event_fd_.load();
    if (fd < 0) return;
    uint64_t one = 1;
    ssize_t written = write(fd, &one, sizeof one);
    (void)written;  // a full counter is readable already
}

void Feed::save_state(bool now) {
    if (!state_) return;
    auto at = std::chrono::steady_clock::now();
    // A kill between two writes repeats at most this much after a restart.
    if (!now && at - saved_at_ < std::chrono::milliseconds(200)) return;
    saved_at_ = at;
    std::string error;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_->save(error)) fprintf(stderr, "xelmd: %s\n", error.c_str());
}

int Feed::disconnects() {
    std::lock_guard<std::mutex> lock(mutex_);
    return disconnects_;
}

int Feed::last_reason() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_reason_;
}

// Network thread from here on: no Python.

void Feed::OnFrontConnected() {
    CTarnXeloReqUserLoginField login{};
    snprintf(login.UserID, sizeof login.UserID, "%s", options_.user.c_str());
    snprintf(login.Password, sizeof login.Password, "%s", options_.password.c_str());
    snprintf(login.UserProductInfo, sizeof login.UserProductInfo, "xelmd-python");
    api_->ReqUserLogin(&login, ++request_id_);
}

void Feed::OnFrontDisconnected(int nReason) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++disconnects_;
    last_reason_ = nReason;
}

void Feed::OnPackageStart(int nTopicID, int nSequenceNo) {
    topic_ = nTopicID;
    sequence_ = nSequenceNo;
    row_ = -1;
    if (state_ && subscribed_.count(nTopicID) != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        state_->first_packet(nTopicID, nSequenceNo);
    }
}

void Feed::refuse(const CTarnXeloRspInfoField* info) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (login_ == Login::Refused) return;
        login_ = Login::Refused;
        error_id_ = info->ErrorID;
        error_msg_.assign(info->ErrorMsg, strnlen(info->ErrorMsg, sizeof info->ErrorMsg));
    }
    ready_.notify_all();
    wake();
    api_->Release();  // a refusal is final: no retry with the same password
}

void Feed::OnRspError(CTarnXeloRspInfoField* pRspInfo, int, bool) {
    if (pRspInfo != nullptr && pRspInfo->ErrorID != 0 && login_ != Login::Done) refuse(pRspInfo);
}

void Feed::OnRspUserLogin(CTarnXeloRspUserLoginField*, CTarnXeloRspInfoField* pRspInfo, int, bool) {
    if (pRspInfo != nullptr && pRspInfo->ErrorID != 0) {
        refuse(pRspInfo);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        login_ = Login::Done;
    }
    ready_.notify_all();
    wake();
}

void Feed::OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* pDepthMarketData) {
    bool stop = false;
    bool was_empty = false;
    ++row_;
    if (state_ && state_->seen(topic_, sequence_, row_)) return;  // handed out before a restart
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (overflow_) return;
        if (count_ == ring_.size()) {
            // Python fell behind: stop here rather than drop or grow.
            overflow_ = true;
            overflow_topic_ = topic_;
            overflow_sequence_ = sequence_;
            stop = true;
        } else {
            DepthRow& row = ring_[(head_ + count_) % ring_.size()];
            row.record = *pDepthMarketData;
            row.Topic = topic_;
            row.SequenceNo = sequence_;
            ring_rows_[(head_ + count_) % ring_.size()] = row_;
            was_empty = count_++ == 0;
        }
    }
    // The consumer waits only on an empty queue: one wake-up per batch.
    if (was_empty || stop) {
        ready_.notify_one();
        wake();
    }
    if (stop) api_->Release();
}

}  // namespace PyXelmd
