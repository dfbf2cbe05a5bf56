#ifndef XELMD_PARALLEL_REPORTER_H
#define XELMD_PARALLEL_REPORTER_H

#include "base/reportable.h"

namespace Parallel {

// What channels and sessions report through: a level (2 failover, 4 open
// failed, 5 information), a tag and a printf-style line. The same object is
// the log interface of the flow readers they create. Called on the reactor
// thread of the reporting object; implementations that serve several
// reactors must make report() safe for that themselves.
class Reporter : public Base::Reportable {
  public:
    virtual ~Reporter() {}

    // The log interface of a reporter, null for none, as readers take it.
    static Base::Reportable* get_log(Reporter* reporter) { return reporter; }
};

}  // namespace Parallel

#endif  // XELMD_PARALLEL_REPORTER_H
