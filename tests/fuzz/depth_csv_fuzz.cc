// Arbitrary bytes as the front's replay file: the header is taken or
// refused with a message, records come one per good line (never one without
// an instrument), a bad line is reported, and after a rewind the first
// record comes again the same.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "tests/fuzz/scratch_dir.h"
#include "tools/front/depth_csv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = scratch_dir() + "/replay.csv", error;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    Front::DepthCsv csv;
    if (!csv.open(path.c_str(), error)) {
        if (error.empty()) abort();
        unlink(path.c_str());
        return 0;
    }
    Field::XelDepthMarketDataField first, record;
    int rc = 0, records = 0;
    for (int lines = 0; lines <= static_cast<int>(size); ++lines) {
        error.clear();
        rc = csv.next(record, error);
        if (rc != 1) break;
        if (record.InstrumentID[0] == 0 ||
            memchr(record.InstrumentID, 0, sizeof record.InstrumentID) == nullptr)
            abort();
        if (records++ == 0) first = record;
    }
    if (rc == 1 || (rc < 0 && error.empty())) abort();  // a line was read twice, or said nothing
    if (!csv.rewind()) abort();
    if (records > 0 &&
        (csv.next(record, error) != 1 || memcmp(&record, &first, sizeof record) != 0))
        abort();
    unlink(path.c_str());
    return 0;
}
