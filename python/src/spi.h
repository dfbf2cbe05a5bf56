// The library's callbacks delivered to a Python xelmd.Spi object on the
// network thread. Which methods the Python class overrides is looked up
// once; the others never enter Python. The network thread keeps one Python
// thread state for its whole life and holds the GIL only while a method runs.
#ifndef XELMD_PYTHON_SPI_H
#define XELMD_PYTHON_SPI_H

#include <pybind11/pybind11.h>

#include <atomic>

#include "TarnXeloMduserApi.h"

namespace PyXelmd {

namespace py = pybind11;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class Spi final : public CTarnXeloMduserSpi {
  public:
    // Holds a reference to target; call with the GIL.
    explicit Spi(py::handle target);
    // Drops the reference and the network thread's state; call with the GIL
    // after the network thread has ended.
    void dispose();

    void OnFrontConnected() override;
    void OnFrontDisconnected(int nReason) override;
    void OnHeartBeatWarning(int nTimeLapse) override;
    void OnPackageStart(int nTopicID, int nSequenceNo) override;
    void OnPackageEnd(int nTopicID, int nSequenceNo) override;
    void OnRspError(CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) override;
    void OnRspUserLogin(CTarnXeloRspUserLoginField* pRspUserLogin, CTarnXeloRspInfoField* pRspInfo,
                        int nRequestID, bool bIsLast) override;
    void OnRspUserLogout(CTarnXeloRspUserLogoutField* pRspUserLogout,
                         CTarnXeloRspInfoField* pRspInfo, int nRequestID, bool bIsLast) override;
    void OnRspUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* pUserPasswordUpdate,
                                 CTarnXeloRspInfoField* pRspInfo, int nRequestID,
                                 bool bIsLast) override;
    void OnRspSubscribeTopic(CTarnXeloDisseminationField* pDissemination,
                             CTarnXeloRspInfoField* pRspInfo, int nRequestID,
                             bool bIsLast) override;
    void OnRspQryTopic(CTarnXeloDisseminationField* pDissemination, CTarnXeloRspInfoField* pRspInfo,
                       int nRequestID, bool bIsLast) override;
    void OnRtnFlowMessageCancel(CTarnXeloFlowMessageCancelField* pFlowMessageCancel) override;
    void OnRtnDepthMarketData(CTarnXeloDepthMarketDataField* pDepthMarketData) override;

    enum Method {
        kConnected,
        kDisconnected,
        kHeartBeat,
        kPackageStart,
        kPackageEnd,
        kRspError,
        kRspLogin,
        kRspLogout,
        kRspPassword,
        kRspSubscribe,
        kRspQryTopic,
        kRtnCancel,
        kRtnDepth,
        kMethodCount
    };
    static const char* const kNames[kMethodCount];

  private:
    // Runs call(method) with the GIL when the method is overridden and the
    // interpreter is not exiting; an exception goes to sys.unraisablehook.
    template <typename F>
    void deliver(Method method, F&& call);

    PyObject* target_;
    unsigned overridden_;
    PyThreadState* network_state_;
};
#pragma GCC diagnostic pop

}  // namespace PyXelmd

#endif  // XELMD_PYTHON_SPI_H
