#ifndef XELMD_TOOLS_FRONT_DEPTH_CSV_H
#define XELMD_TOOLS_FRONT_DEPTH_CSV_H

#include <cstdio>
#include <string>

#include "base/csv.h"
#include "field/xelfield.h"

namespace Front {

// Depth records from a CSV file: a header row naming members of the depth
// record (at least InstrumentID; missing columns read as zero, prices as
// decimals with empty cells null), then one record per line. One thread.
class DepthCsv {
  public:
    DepthCsv();
    ~DepthCsv();
    DepthCsv(const DepthCsv&) = delete;
    DepthCsv& operator=(const DepthCsv&) = delete;

    bool open(const char* path, std::string& error);
    // 1 with a record, 0 at the end, -1 on a bad line (error says which).
    int next(Field::XelDepthMarketDataField& record, std::string& error);
    // Back to the first record (replay in a loop).
    bool rewind();

  private:
    FILE* file_;
    Base::Csv csv_;
    long data_start_;
    int line_;
};

}  // namespace Front

#endif  // XELMD_TOOLS_FRONT_DEPTH_CSV_H
