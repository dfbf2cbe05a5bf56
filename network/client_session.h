#ifndef XELMD_NETWORK_CLIENT_SESSION_H
#define XELMD_NETWORK_CLIENT_SESSION_H

#include "base/list.h"

namespace Parallel {
class FdReactor;
class Handler;
class Reporter;
}  // namespace Parallel

namespace Network {

class XeloClientChannel;

// A node of the session tree: every event a session does not consume goes
// to its parent; the root (the API object) has none. Reactor thread only.
class ClientSession {
  public:
    ClientSession(Parallel::FdReactor* reactor, ClientSession* parent, Parallel::Reporter* reporter)
        : reactor_(reactor),
          parent_(parent),
          reporter_(reporter),
          handler_(nullptr),
          node_(nullptr) {}
    virtual ~ClientSession() {}
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    // The defaults pass each call unchanged to the parent, or do nothing.
    virtual void on_created() {
        if (parent_ != nullptr) parent_->on_created();
    }
    virtual void on_connected() {
        if (parent_ != nullptr) parent_->on_connected();
    }
    virtual void on_disconnected(int reason) {
        if (parent_ != nullptr) parent_->on_disconnected(reason);
    }
    virtual void on_connect_failed(ClientSession* session) {
        if (parent_ != nullptr) parent_->on_connect_failed(session);
    }
    // The parent's channel, or null.
    virtual XeloClientChannel* get_channel() {
        return parent_ != nullptr ? parent_->get_channel() : nullptr;
    }

    ClientSession* get_top_session() {
        ClientSession* top = this;
        while (top->parent_ != nullptr) top = top->parent_;
        return top;
    }
    // Sets the payload cipher of get_channel(), when there is one.
    void set_cipher(unsigned char type, unsigned long key);

    void set_session(ClientSession* parent) { parent_ = parent; }
    ClientSession* get_session() const { return parent_; }
    Parallel::FdReactor* get_reactor() const { return reactor_; }
    Parallel::Reporter* get_reporter() const { return reporter_; }

    // The server session that keeps this one, and its place in that list.
    void set_node(Parallel::Handler* handler, Base::List::Node* node) {
        handler_ = handler;
        node_ = node;
    }
    Base::List::Node* get_node() const { return node_; }
    Parallel::Handler* get_handler() const { return handler_; }

  private:
    Parallel::FdReactor* reactor_;
    ClientSession* parent_;
    Parallel::Reporter* reporter_;
    Parallel::Handler* handler_;
    Base::List::Node* node_;
};

}  // namespace Network

#endif  // XELMD_NETWORK_CLIENT_SESSION_H
