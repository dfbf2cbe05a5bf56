#include "spi.h"

#include "records.h"
#include "runtime.h"

namespace PyXelmd {

const char* const Spi::kNames[kMethodCount] = {
    "on_front_connected",      "on_front_disconnected", "on_heart_beat_warning",
    "on_package_start",        "on_package_end",        "on_rsp_error",
    "on_rsp_user_login",       "on_rsp_user_logout",    "on_rsp_user_password_update",
    "on_rsp_subscribe_topic",  "on_rsp_qry_topic",      "on_rtn_flow_message_cancel",
    "on_rtn_depth_market_data"};

Spi::Spi(py::handle target) : target_(target.ptr()), overridden_(0), network_state_(nullptr) {
    Py_INCREF(target_);
    // A method counts as overridden unless it is xelmd.Spi's own do-nothing one.
    py::object base = py::module_::import("xelmd").attr("Spi");
    py::object type = py::type::of(target);
    for (int i = 0; i < kMethodCount; ++i) {
        py::object mine = py::getattr(type, kNames[i], py::none());
        py::object theirs = py::getattr(base, kNames[i], py::none());
        if (!mine.is_none() && !mine.is(theirs)) overridden_ |= 1u << i;
    }
}

void Spi::dispose() {
    if (network_state_ != nullptr) {
        PyThreadState_Clear(network_state_);
        PyThreadState_Delete(network_state_);
        network_state_ = nullptr;
    }
    Py_CLEAR(target_);
}

template <typename F>
void Spi::deliver(Method method, F&& call) {
    if ((overridden_ & (1u << method)) == 0 || Runtime::exiting().load()) return;
    if (network_state_ == nullptr) network_state_ = PyThreadState_New(PyInterpreterState_Main());
    PyEval_RestoreThread(network_state_);
    if (target_ != nullptr && !Runtime::exiting().load()) {
        try {
            call(py::handle(target_).attr(kNames[method]));
        } catch (py::error_already_set& e) {
            e.discard_as_unraisable(py::handle(target_).attr(kNames[method]));
        } catch (std::exception& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
            PyErr_WriteUnraisable(target_);
        }
    }
    PyEval_SaveThread();
}

void Spi::OnFrontConnected() {
    deliver(kConnected, [](py::object f) { f(); });
}

void Spi::OnFrontDisconnected(int nReason) {
    deliver(kDisconnected, [&](py::object f) { f(nReason); });
}

void Spi::OnHeartBeatWarning(int nTimeLapse) {
    deliver(kHeartBeat, [&](py::object f) { f(nTimeLapse); });
}

void Spi::OnPackageStart(int nTopicID, int nSequenceNo) {
    deliver(kPackageStart, [&](py::object f) { f(nTopicID, nSequenceNo); });
}

void Spi::OnPackageEnd(int nTopicID, int nSequenceNo) {
    deliver(kPackageEnd, [&](py::object f) { f(nTopicID, nSequenceNo); });
}

void Spi::OnRspError(CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    deliver(kRspError, [&](py::object f) {
        f(Records::to_python(Records::rsp_info(), pRspInfo), nRequestID, bIsLast);
    });
}

void Spi::OnRspUserLogin(CTarnXeloRspUserLoginField* pRspUserLogin, CTarnXeloRspInfoField* pRspInfo,
                         int nRequestID, bool bIsLast) {
    deliver(kRspLogin, [&](py::object f) {
        f(Records::to_python(Records::login_response(), pRspUserLogin),
          Records::to_python(Records::rsp_info(), pRspInfo), nRequestID, bIsLast);
    });
}

void Spi::OnRspUserLogout(CTarnXeloRspUserLogoutField* pRspUserLogout,
                          CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    deliver(kRspLogout, [&](py::object f) {
        f(Records::to_python(Records::logout(), pRspUserLogout),
          Records::to_python(Records::rsp_info(), pRspInfo), nRequestID, bIsLast);
    });
}

void Spi::OnRspUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* pUserPasswordUpdate,
                                  CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    deliver(kRspPassword, [&](py::object f) {
        f(Records::to_python(Records::password_update(), pUserPasswordUpdate),
          Records::to_python(Records::rsp_info(), pRspInfo), nRequestID, bIsLast);
    });
}

void Spi::OnRspSubscribeTopic(CTarnXeloDisseminationField* pDissemination,
                              CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    deliver(kRspSubscribe, [&](py::object f) {
        f(Records::to_python(Records::dissemination(), pDissemination),
          Records::to_python(Records::rsp_info(), pRspInfo), nRequestID, bIsLast);
    });
}

void Spi::OnRspQryTopic(CTarnXeloDisseminationField* pDissemination,
                        CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) {
    deliver(kRspQryTopic, [&](py::object f) {
        f(Records::to_python(Records::dissemination(), pDissemination),
          Records::to_python(Records::rsp_info(), pRspInfo), nRequestID, bIsLast);
    });
}

void Spi::OnRtnFlowMessageCancel(CTarnXeloFlowMessageCancelField* pFlowMessageCancel) {
    deliver(kRtnCancel, [&](py::object f) {
        f(Records::to_python(Records::flow_message_cancel(), pFlowMessageCancel));
    });
}

void Spi::OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* pDepthMarketData) {
    deliver(kRtnDepth,
            [&](py::object f) { f(Records::to_python(Records::depth(), pDepthMarketData)); });
}

}  // namespace PyXelmd
