#include "network/xelo_server_session.h"

#include <stdint.h>

#include "base/sign.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_client_session.h"
#include "network/xelo_server_channel.h"
#include "parallel/fd_reactor.h"
#include "parallel/reporter.h"

namespace Network {

namespace {

const char TAG[] = "XeloServerSession";
const int LEVEL_OPEN_FAILED = 4;
const int LEVEL_INFO = 5;

}  // namespace

XeloServerSession::XeloServerSession(Parallel::FdReactor* reactor, ServerSession* parent,
                                     Parallel::Reporter* reporter, int factor)
    : ServerSession(reactor, parent, reporter),
      factor_(factor),
      channel_(new XeloServerChannel(reactor, this, reporter)),
      clients_(true, 0) {}

XeloServerSession::~XeloServerSession() {
    delete channel_;
    channel_ = nullptr;
    // On the reactor thread the event runs at once; elsewhere we wait.
    Base::Sign done(0);
    get_reactor()->add_event(EVENT_DISCONNECT, nullptr, &done, this, false);
    done.join();
    if (!get_reactor()->is_current()) {
        // A client that ended while 1013 waited in the queue posted 1012
        // behind it; that event must find this session still there (with
        // no clients left it does nothing).
        Base::Sign drained(0);
        get_reactor()->add_event(EVENT_DRAIN, nullptr, &drained, this, true);
        drained.join();
    }
}

bool XeloServerSession::open(const char* host, int port) {
    bool opened = channel_->listen(host, port);
    Parallel::Reporter* reporter = get_reporter();
    if (reporter != nullptr) {
        if (opened) {
            reporter->report(LEVEL_INFO, TAG, "open success! [%s] [%d] [%p]", host, port,
                             static_cast<void*>(this));
        } else {
            reporter->report(LEVEL_OPEN_FAILED, TAG, "open failed! [%s] [%d] [%p]", host, port,
                             static_cast<void*>(this));
        }
    }
    return opened;
}

int XeloServerSession::close(int reason) {
    if (get_reporter() != nullptr) {
        get_reporter()->report(LEVEL_INFO, TAG, "close! [%d] [%p]", reason,
                               static_cast<void*>(this));
    }
    return channel_->close(reason);
}

void XeloServerSession::publish(Base::DataFlow* flow) {
    channel_->publish(flow, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void XeloServerSession::subscribe(Base::DataFlow* flow) {
    channel_->subscribe(flow, nullptr, 0, false);
}

int XeloServerSession::get_port() const {
    return channel_->get_port();
}

void XeloServerSession::on_accepted(int fd) {
    get_reactor()->add_event(EVENT_ACCEPTED, reinterpret_cast<void*>(static_cast<intptr_t>(fd)),
                             nullptr, this, true);
}

ClientSession* XeloServerSession::create_client(int fd) {
    ClientSession* client = ServerSession::create_client(fd);
    if (client != nullptr) return client;
    XeloClientSession* session =
        new XeloClientSession(get_reactor(), nullptr, get_reporter(), nullptr, factor_);
    session->open(fd);
    return session;
}

void XeloServerSession::on_client_created(ClientSession* client) {
    XeloClientChannel* channel = client->get_channel();
    if (channel != nullptr && channel_ != nullptr) {
        channel_->subscribe_flow(channel);
        channel_->publish_flow(channel);
    }
    client->set_node(this, clients_.push_back(client));
    ServerSession::on_client_created(client);
}

void XeloServerSession::on_client_destroy(ClientSession* client) {
    ServerSession::on_client_destroy(client);
    if (client->get_node() != nullptr) clients_.remove(client->get_node());
    client->set_node(nullptr, nullptr);
}

int XeloServerSession::on_event(int id, void* arg) {
    switch (id) {
        case EVENT_ACCEPTED:
            ServerSession::on_accepted(static_cast<int>(reinterpret_cast<intptr_t>(arg)));
            return 0;
        case EVENT_CLIENT_END:
            if (clients_.get_count() > 0) destroy_client(static_cast<ClientSession*>(arg));
            return 0;
        case EVENT_DISCONNECT:
            disconnect_all();
            return 0;
        case EVENT_DRAIN:
            return 0;
        default:
            return -1;
    }
}

void XeloServerSession::destroy_client(ClientSession* client) {
    on_client_destroy(client);
    delete client;
}

void XeloServerSession::disconnect_all() {
    while (clients_.get_count() > 0) {
        destroy_client(static_cast<ClientSession*>(clients_.get_first()->data));
    }
}

}  // namespace Network
