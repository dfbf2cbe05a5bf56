#include "parallel/handler_notify.h"

#include "parallel/handler.h"
#include "parallel/reactor.h"

namespace Parallel {

HandlerNotify::HandlerNotify(Reactor* reactor, Handler* handler)
    : Base::Notify(reactor != nullptr ? static_cast<Base::NotifyGroup*>(reactor) : nullptr),
      reactor_(reactor),
      handler_(handler) {
    if (handler_ != nullptr) handler_->set_notify(true);
}

}  // namespace Parallel
