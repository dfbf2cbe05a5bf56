// xelmd.Api: the interface's API object. Negative results raise
// xelmd.ApiError; the GIL is released around every call into the library.
#ifndef XELMD_PYTHON_API_H
#define XELMD_PYTHON_API_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "TarnXeloMduserApi.h"
#include "session.h"
#include "spi.h"

namespace PyXelmd {

namespace py = pybind11;

// Raises xelmd.ApiError for a negative result; returns the result otherwise.
int check(int result);

class Api : public Session {
  public:
    explicit Api(const std::string& flow_path);
    ~Api() override;

    void register_spi(py::handle spi);
    void register_front(const std::string& address);
    void register_name_server(const std::string& address);
    void subscribe_market_data_topic(int topic, int resume);
    void set_heartbeat_timeout(unsigned timeout);
    void open_request_log(const std::string& path);
    void open_response_log(const std::string& path);
    void init();
    void req_user_login(py::handle fields, int request_id);
    void req_user_logout(py::handle fields, int request_id);
    void req_user_password_update(py::handle fields, int request_id);
    void req_subscribe_topic(py::handle fields, int request_id);
    void req_qry_topic(py::handle fields, int request_id);
    std::string get_trading_day();
    // Release and Join. From a callback only Release runs; the object is
    // then joined by the next close() on another thread, or at exit.
    void close() override;
    // Joins the API objects released from their own callbacks.
    static void join_orphans();

  private:
    CTarnXeloMduserApi* live();  // raises -15 once released
    template <typename F>
    int call(F&& f);

    enum class State { Open, Joining, Closed };
    CTarnXeloMduserApi* api_;
    State state_;
    std::vector<Spi*> spis_;
    std::atomic<int> busy_{
        0};  // calls inside the library right now  // every bridge registered, freed after Join
};

}  // namespace PyXelmd

#endif  // XELMD_PYTHON_API_H
