#include "network/xelo_server_channel.h"

#include <unistd.h>

#include "network/client_session.h"
#include "network/server_session.h"
#include "network/xelo_client_channel.h"
#include "parallel/fd_reactor.h"

namespace Network {

XeloServerChannel::XeloServerChannel(Parallel::FdReactor* reactor, ServerSession* session,
                                     Parallel::Reporter* reporter)
    : FlowChannel(reactor, reporter), session_(session), pub_list_(false, 0), sub_list_(false, 0) {}

XeloServerChannel::~XeloServerChannel() {
    close(0);
    while (pub_list_.get_count() > 0) delete static_cast<PubEntry*>(pub_list_.pop_front());
}

int XeloServerChannel::read() {
    int fd = socket_.accept();
    if (fd < 1) return 0;
    ClientSession* client = session_->create_client(fd);
    if (client == nullptr) {
        ::close(fd);
        return 0;
    }
    session_->on_client_created(client);
    client->on_created();
    return 0;
}

int XeloServerChannel::write() {
    return -2;
}

void XeloServerChannel::get_id(int& read_fd, int& write_fd) const {
    read_fd = socket_.get_fd();
    write_fd = 0;
}

bool XeloServerChannel::listen(const char* host, int port) {
    if (socket_.get_fd() != 0 || !socket_.open()) return false;
    if (!socket_.bind(host, port) || socket_.listen(BACKLOG) != 0) {
        socket_.close();
        return false;
    }
    // A connection reset between readiness and accept must not block the
    // reactor in accept.
    socket_.set_blocking(false);
    get_reactor()->add_fd(this);
    return true;
}

bool XeloServerChannel::connect(const char* host, int port, int timeout) {
    (void)host;
    (void)port;
    (void)timeout;
    return false;
}

int XeloServerChannel::close(int reason) {
    if (socket_.get_fd() != 0) {
        get_reactor()->remove_fd(this);
        socket_.close();
    }
    return reason;
}

void XeloServerChannel::publish(Base::DataFlow* flow, Base::DataFlow::AckCallback* ack,
                                Base::DataFlow::ReadCallback* callback, Base::DataReader* reader,
                                Parallel::FlowRecycler* recycler, unsigned int* counter) {
    pub_list_.push_back(new PubEntry{flow, ack, callback, reader, recycler, counter});
}

void XeloServerChannel::subscribe(Base::DataFlow* flow, Filter filter, unsigned long limit,
                                  bool no_sequence_check) {
    (void)filter;
    (void)limit;
    (void)no_sequence_check;
    sub_list_.push_back(flow);
}

void XeloServerChannel::publish_flow(XeloClientChannel* channel) {
    for (Base::List::Node* node = pub_list_.get_first(); node != nullptr; node = node->next) {
        PubEntry* entry = static_cast<PubEntry*>(node->data);
        // The reader goes with the first connection, which owns it.
        channel->publish(entry->flow, entry->ack, entry->callback, entry->reader, nullptr, nullptr);
        entry->reader = nullptr;
    }
}

void XeloServerChannel::subscribe_flow(XeloClientChannel* channel) {
    for (Base::List::Node* node = sub_list_.get_first(); node != nullptr; node = node->next) {
        channel->subscribe(static_cast<Base::DataFlow*>(node->data), nullptr, 0, false);
    }
}

}  // namespace Network
