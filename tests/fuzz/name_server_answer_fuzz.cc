// A name server's answer, as arbitrary bytes of at most the answer buffer,
// through the bond session's registration of its lines: every front it
// registers has a positive port and a host of at most 31 characters, no
// more fronts than the table holds, and no line is read past its end.
//
// The bond lives and dies within one event on its reactor thread, with a
// loopback front of ours registered first as the current one: the learned
// fronts are only listed, none is ever connected.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/sign.h"
#include "network/xelo_bond_client_session.h"
#include "parallel/fd_reactor.h"
#include "parallel/handler.h"

namespace {

using Network::XeloBondClientSession;

Parallel::FdReactor* reactor() {
    static Parallel::FdReactor* r = [] {
        Parallel::FdReactor* created = new Parallel::FdReactor(nullptr);
        created->create(true, nullptr);
        return created;
    }();
    return r;
}

struct Registration : Parallel::Handler {
    std::vector<char> text;

    int on_event(int, void*) override {
        XeloBondClientSession bond(reactor(), nullptr, nullptr, 1);
        if (!bond.open("127.0.0.1", 9)) abort();
        size_t lines = 1;
        for (char c : text) lines += c == '\n' || c == '\r';
        int registered = bond.register_answer(text.data());
        if (registered < 0 || registered + 1 != bond.get_front_count() ||
            static_cast<size_t>(registered) > lines || bond.get_current_index() != 0)
            abort();
        for (int i = 1; i < bond.get_front_count(); ++i) {
            const XeloBondClientSession::Address& a = bond.get_front(i);
            if (a.port <= 0 || memchr(a.host, 0, sizeof a.host) == nullptr) abort();
        }
        return 0;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= XeloBondClientSession::ANSWER_SIZE) return 0;
    Registration registration;
    // As read from the socket: the bytes, then a zero byte.
    registration.text.assign(data, data + size);
    registration.text.push_back('\0');
    Base::Sign done(0);
    reactor()->add_event(1, nullptr, &done, &registration, false);
    done.join();
    return 0;
}
