#include "network/client_session.h"

#include "network/xelo_client_channel.h"

namespace Network {

void ClientSession::set_cipher(unsigned char type, unsigned long key) {
    XeloClientChannel* channel = get_channel();
    if (channel != nullptr) channel->set_cipher(type, key);
}

}  // namespace Network
