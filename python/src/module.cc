// The _xelmd extension: xelmd.Api, the Feed engine, the record tables and
// the exit hook. The Python side (xelmd/__init__.py) adds the classes users
// subclass or catch.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "api.h"
#include "feed.h"
#include "records.h"
#include "runtime.h"
#include "tools/common/reason_text.h"

namespace py = pybind11;
using namespace PyXelmd;

namespace {

py::tuple code_text(const ToolCommon::CodeText* text) {
    if (text == nullptr) return py::make_tuple("unknown", "");
    return py::make_tuple(text->name, text->meaning);
}

// atexit: from here on no network thread enters Python; what is still open
// is released and joined with the GIL released.
void shutdown() {
    Runtime::exiting().store(true);
    Session::close_all();
    Api::join_orphans();
}

void bind_api(py::module_& m) {
    py::class_<Api, std::shared_ptr<Api>>(m, "Api")
        .def(py::init<const std::string&>(), py::arg("flow_path") = "")
        .def("register_spi", &Api::register_spi,
             "Set the xelmd.Spi object that receives the callbacks (None: none).", py::arg("spi"))
        .def("register_front", &Api::register_front,
             "Add a front address, tcp://A.B.C.D:PORT (before init).", py::arg("address"))
        .def("register_name_server", &Api::register_name_server,
             "Add a name server address, tcp://A.B.C.D:PORT (before init).", py::arg("address"))
        .def("subscribe_market_data_topic", &Api::subscribe_market_data_topic,
             "Subscribe a topic with a RESUME_FROM_* mode (before init).", py::arg("topic"),
             py::arg("resume_type"))
        .def("set_heartbeat_timeout", &Api::set_heartbeat_timeout,
             "Seconds of silence before the connection is closed (before init).",
             py::arg("seconds"))
        .def("open_request_log", &Api::open_request_log, "Log every request sent to this file.",
             py::arg("path"))
        .def("open_response_log", &Api::open_response_log,
             "Log every response received to this file.", py::arg("path"))
        .def("init", &Api::init,
             "Start the network thread; it connects and calls on_front_connected.")
        .def("req_user_login", &Api::req_user_login,
             "Log in; fields as a dict or object under the C member names.", py::arg("fields"),
             py::arg("request_id"))
        .def("req_user_logout", &Api::req_user_logout, "Log out (UserID, ParticipantID).",
             py::arg("fields"), py::arg("request_id"))
        .def("req_user_password_update", &Api::req_user_password_update,
             "Change the password (UserID, ParticipantID, OldPassword, NewPassword).",
             py::arg("fields"), py::arg("request_id"))
        .def("req_subscribe_topic", &Api::req_subscribe_topic,
             "Subscribe a topic after login (SequenceSeries, SequenceNo).", py::arg("fields"),
             py::arg("request_id"))
        .def("req_qry_topic", &Api::req_qry_topic, "Ask the front about a topic (SequenceSeries).",
             py::arg("fields"), py::arg("request_id"))
        .def("get_trading_day", &Api::get_trading_day, "The trading day of the login, yyyymmdd.")
        .def("close", &Api::close,
             "Release and Join; idempotent, from any thread, a callback or at exit.");
}

void bind_feed(py::module_& m) {
    py::class_<FeedOptions>(m, "FeedOptions")
        .def(py::init<>())
        .def_readwrite("fronts", &FeedOptions::fronts)
        .def_readwrite("name_servers", &FeedOptions::name_servers)
        .def_readwrite("user", &FeedOptions::user)
        .def_readwrite("password", &FeedOptions::password)
        .def_readwrite("topics", &FeedOptions::topics)
        .def_readwrite("state_dir", &FeedOptions::state_dir)
        .def_readwrite("capacity", &FeedOptions::capacity)
        .def_readwrite("heartbeat", &FeedOptions::heartbeat);
    py::class_<Feed, std::shared_ptr<Feed>>(m, "FeedCore")
        .def(py::init<FeedOptions>())
        .def("start", &Feed::start)
        .def("read_batch", &Feed::read_batch)
        .def("next_update", &Feed::next_update)
        .def("close", &Feed::close)
        .def("event_fd", &Feed::event_fd)
        .def("disconnects", &Feed::disconnects)
        .def("last_reason", &Feed::last_reason);
}

py::dict layout(const Table& table, size_t size) {
    return Records::numpy_layout(table, size);
}

}  // namespace

PYBIND11_MODULE(_xelmd, m) {
    m.doc() = "Compiled part of the xelmd package.";
    bind_api(m);
    bind_feed(m);
    m.def("set_record_type", &Records::set_record_type);
    m.def("result_text", [](int code) { return code_text(ToolCommon::find_result(code)); });
    m.def("reason_text", [](int reason) { return code_text(ToolCommon::find_reason(reason)); });
    m.def("depth_dtype", &Feed::dtype);
    // The compiled layout itself, for checking the dtype against it.
    m.def("depth_layout", [] { return layout(Records::depth_row(), sizeof(DepthRow)); });
    m.attr("DEPTH_RECORD_SIZE") = sizeof(CTarnXeloDepthMarketDataField);
    m.def("shutdown", &shutdown);
    m.def("version", [] {
        int major = 0, minor = 0;
        const char* text = CTarnXeloMduserApi::GetVersion(major, minor);
        return py::make_tuple(text ? text : "", major, minor);
    });
}
