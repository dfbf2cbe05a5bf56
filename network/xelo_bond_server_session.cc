#include "network/xelo_bond_server_session.h"

#include "network/xelo_server_session.h"

namespace Network {

XeloBondServerSession::XeloBondServerSession(Parallel::FdReactor* reactor, ServerSession* parent,
                                             Parallel::Reporter* reporter, int factor)
    : ServerSession(reactor, parent, reporter), factor_(factor) {
    for (int i = 0; i < MAX_LISTENERS; ++i) listeners_[i] = nullptr;
}

XeloBondServerSession::~XeloBondServerSession() {
    close(0);
    for (int i = 0; i < MAX_LISTENERS; ++i) delete listeners_[i];
}

int XeloBondServerSession::get_listener_count() const {
    int count = 0;
    while (count < MAX_LISTENERS && listeners_[count] != nullptr) ++count;
    return count;
}

bool XeloBondServerSession::open(const char* host, int port) {
    int index = get_listener_count();
    if (index == MAX_LISTENERS) return false;
    XeloServerSession* listener =
        new XeloServerSession(get_reactor(), this, get_reporter(), factor_);
    if (!listener->open(host, port)) {
        delete listener;
        return false;
    }
    listeners_[index] = listener;
    return true;
}

void XeloBondServerSession::close(int reason) {
    for (int i = 0; i < MAX_LISTENERS && listeners_[i] != nullptr; ++i) {
        listeners_[i]->close(reason);
    }
}

void XeloBondServerSession::publish(Base::DataFlow* flow) {
    for (int i = 0; i < MAX_LISTENERS && listeners_[i] != nullptr; ++i) {
        listeners_[i]->publish(flow);
    }
}

void XeloBondServerSession::subscribe(Base::DataFlow* flow) {
    for (int i = 0; i < MAX_LISTENERS && listeners_[i] != nullptr; ++i) {
        listeners_[i]->subscribe(flow);
    }
}

}  // namespace Network
