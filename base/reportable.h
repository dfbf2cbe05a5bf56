#ifndef XELMD_BASE_REPORTABLE_H
#define XELMD_BASE_REPORTABLE_H

namespace Base {

// Where readers and transports send their log lines: a level (2 failover,
// 4 open failed, 5 information), a tag and a printf-style format. Called on
// the reporting object's thread; implementations decide where lines go.
class Reportable {
  public:
    virtual void report(int level, const char* tag, const char* format, ...)
        __attribute__((format(printf, 4, 5))) = 0;

  protected:
    ~Reportable() = default;
};

}  // namespace Base

#endif  // XELMD_BASE_REPORTABLE_H
