#include "network/listen_session.h"

#include <unistd.h>

namespace Network {

void ListenSession::on_accepted(int fd) {
    if (parent_ != nullptr) {
        parent_->on_accepted(fd);
    } else if (fd > 0) {
        ::close(fd);
    }
}

}  // namespace Network
