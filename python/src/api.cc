#include "api.h"

#include <thread>

#include "records.h"
#include "tools/common/reason_text.h"

namespace PyXelmd {

int check(int result) {
    if (result >= 0) return result;
    const ToolCommon::CodeText* text = ToolCommon::find_result(result);
    py::object error = py::module_::import("xelmd").attr("ApiError")(
        result, text ? text->name : "unknown", text ? text->meaning : "");
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

Api::Api(const std::string& flow_path)
    : api_(CTarnXeloMduserApi::CreateXeloMduserApi(flow_path.c_str())), state_(State::Open) {}

Api::~Api() {
    // Garbage collection: close with the GIL released around the Join.
    try {
        close();
    } catch (...) {
    }
}

CTarnXeloMduserApi* Api::live() {
    if (state_ != State::Open) check(-15);
    return api_;
}

template <typename F>
int Api::call(F&& f) {
    CTarnXeloMduserApi* api = live();
    int result;
    {
        // Counted under the GIL, before close() can start, so its Join
        // waits until this call has left the library.
        ++busy_;
        py::gil_scoped_release unlocked;
        result = f(api);
        --busy_;
    }
    return check(result);
}

void Api::register_spi(py::handle spi) {
    CTarnXeloMduserApi* api = live();
    Spi* bridge = spi.is_none() ? nullptr : new Spi(spi);
    if (bridge != nullptr) spis_.push_back(bridge);
    ++busy_;
    py::gil_scoped_release unlocked;
    api->RegisterSpi(bridge);
    --busy_;
}

void Api::register_front(const std::string& address) {
    call([&](CTarnXeloMduserApi* a) { return a->RegisterFront(address.c_str()); });
}

void Api::register_name_server(const std::string& address) {
    call([&](CTarnXeloMduserApi* a) { return a->RegisterNameServer(address.c_str()); });
}

void Api::subscribe_market_data_topic(int topic, int resume) {
    call([&](CTarnXeloMduserApi* a) {
        return a->SubscribeMarketDataTopic(topic, static_cast<TE_RESUME_TYPE>(resume));
    });
}

void Api::set_heartbeat_timeout(unsigned timeout) {
    call([&](CTarnXeloMduserApi* a) { return a->SetHeartbeatTimeout(timeout); });
}

void Api::open_request_log(const std::string& path) {
    call([&](CTarnXeloMduserApi* a) { return a->OpenRequestLog(path.c_str()); });
}

void Api::open_response_log(const std::string& path) {
    call([&](CTarnXeloMduserApi* a) { return a->OpenResponseLog(path.c_str()); });
}

void Api::init() {
    call([](CTarnXeloMduserApi* a) { return a->Init(); });
    enlist();
}

void Api::req_user_login(py::handle fields, int request_id) {
    CTarnXeloReqUserLoginField r{};
    Records::from_python(Records::login_request(), fields, &r);
    call([&](CTarnXeloMduserApi* a) { return a->ReqUserLogin(&r, request_id); });
}

void Api::req_user_logout(py::handle fields, int request_id) {
    CTarnXeloReqUserLogoutField r{};
    Records::from_python(Records::logout(), fields, &r);
    call([&](CTarnXeloMduserApi* a) { return a->ReqUserLogout(&r, request_id); });
}

void Api::req_user_password_update(py::handle fields, int request_id) {
    CTarnXeloUserPasswordUpdateField r{};
    Records::from_python(Records::password_update(), fields, &r);
    call([&](CTarnXeloMduserApi* a) { return a->ReqUserPasswordUpdate(&r, request_id); });
}

void Api::req_subscribe_topic(py::handle fields, int request_id) {
    CTarnXeloDisseminationField r{};
    Records::from_python(Records::dissemination(), fields, &r);
    call([&](CTarnXeloMduserApi* a) { return a->ReqSubscribeTopic(&r, request_id); });
}

void Api::req_qry_topic(py::handle fields, int request_id) {
    CTarnXeloDisseminationField r{};
    Records::from_python(Records::dissemination(), fields, &r);
    call([&](CTarnXeloMduserApi* a) { return a->ReqQryTopic(&r, request_id); });
}

std::string Api::get_trading_day() {
    CTarnXeloMduserApi* api = live();
    std::string day;
    {
        ++busy_;
        py::gil_scoped_release unlocked;
        const char* text = api->GetTradingDay();
        if (text != nullptr) day = text;
        --busy_;
    }
    return day;
}

namespace {
struct Orphan {
    CTarnXeloMduserApi* api;
    std::vector<Spi*> spis;
};
std::vector<Orphan>& orphans() {
    static auto* list = new std::vector<Orphan>();
    return *list;
}
void dispose(std::vector<Spi*>& spis) {
    for (Spi* s : spis) {
        s->dispose();
        delete s;
    }
    spis.clear();
}
}  // namespace

void Api::join_orphans() {
    std::vector<Orphan> waiting;
    waiting.swap(orphans());
    for (Orphan& o : waiting) {
        int joined;
        {
            py::gil_scoped_release unlocked;
            joined = o.api->Join();
        }
        if (joined == -16)
            orphans().push_back(std::move(o));  // this is its own network thread
        else
            dispose(o.spis);
    }
}

void Api::close() {
    // State changes happen under the GIL, so two threads never both join.
    if (state_ == State::Joining) return;
    if (state_ == State::Closed) {  // maybe released from its callback earlier
        join_orphans();
        return;
    }
    state_ = State::Joining;
    int joined;
    {
        py::gil_scoped_release unlocked;
        api_->Release();  // calls still inside return soon; new ones get -15
        while (busy_.load() != 0) std::this_thread::yield();
        joined = api_->Join();
    }
    state_ = State::Closed;
    delist();
    if (joined == -16) {
        orphans().push_back(Orphan{api_, std::move(spis_)});
        spis_.clear();
    } else {
        dispose(spis_);
    }
    api_ = nullptr;
    join_orphans();
}

}  // namespace PyXelmd
