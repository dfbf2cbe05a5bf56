#include "parallel/fd_notify.h"

#include "parallel/fd.h"
#include "parallel/fd_reactor.h"

namespace Parallel {

FdNotify::FdNotify(FdReactor* reactor, Fd* fd)
    : Base::Notify(reactor != nullptr ? static_cast<Base::NotifyGroup*>(reactor) : nullptr),
      reactor_(reactor),
      fd_(fd) {
    if (fd_ != nullptr) fd_->set_notify(true);
}

}  // namespace Parallel
