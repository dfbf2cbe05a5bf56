#include "parallel/fd_notify.h"

#include "parallel/fd_reactor.h"

namespace Parallel {

FdNotify::FdNotify(FdReactor* reactor)
    : Base::Notify(reactor != nullptr ? static_cast<Base::NotifyGroup*>(reactor) : nullptr) {}

}  // namespace Parallel
