#include "network/server_session.h"

#include <unistd.h>

#include "network/client_session.h"

namespace Network {

void ServerSession::on_accepted(int fd) {
    ClientSession* client = create_client(fd);
    if (client == nullptr) {
        if (fd > 0) ::close(fd);
        return;
    }
    on_client_created(client);
    client->on_created();
}

ClientSession* ServerSession::create_client(int fd) {
    return parent_ != nullptr ? parent_->create_client(fd) : nullptr;
}

void ServerSession::on_client_created(ClientSession* client) {
    if (parent_ != nullptr) parent_->on_client_created(client);
}

void ServerSession::on_client_destroy(ClientSession* client) {
    if (parent_ != nullptr) parent_->on_client_destroy(client);
}

}  // namespace Network
