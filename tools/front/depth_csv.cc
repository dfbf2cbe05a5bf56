#include "tools/front/depth_csv.h"

#include <cstring>

namespace Front {

namespace {
// Every member type of the depth record reads an empty cell as its null.
void enable_nulls(Base::Csv& csv) {
    for (int t = 0; t < TYPE_COUNT; ++t) csv.enable_null(static_cast<DataType>(t), true);
}
}  // namespace

DepthCsv::DepthCsv() : file_(nullptr), csv_(false, 64), data_start_(0), line_(0) {
    enable_nulls(csv_);
}

DepthCsv::~DepthCsv() {
    if (file_ != nullptr) fclose(file_);
}

bool DepthCsv::open(const char* path, std::string& error) {
    if (file_ != nullptr) fclose(file_);
    file_ = fopen(path, "rbe");
    if (file_ == nullptr) {
        error = std::string("cannot read ") + path;
        return false;
    }
    if (!csv_.read_head(file_)) {
        error = std::string(path) + ": no header line";
        return false;
    }
    if (csv_.get_head_index("InstrumentID") < 0) {
        error = std::string(path) + ": the header has no InstrumentID column";
        return false;
    }
    data_start_ = ftell(file_);
    line_ = 1;
    return true;
}

int DepthCsv::next(Field::XelDepthMarketDataField& record, std::string& error) {
    if (file_ == nullptr) return 0;
    if (!csv_.read_data(file_)) {
        if (feof(file_)) return 0;
        error = "line " + std::to_string(line_ + 1) + ": invalid CSV line";
        return -1;
    }
    ++line_;
    memset(&record, 0, sizeof record);
    if (!Field::XelDepthMarketDataField::DESC.from_csv(&csv_, &record, nullptr) ||
        record.InstrumentID[0] == 0) {
        error =
            "line " + std::to_string(line_) + ": a cell does not convert or InstrumentID is empty";
        return -1;
    }
    return 1;
}

bool DepthCsv::rewind() {
    if (file_ == nullptr || fseek(file_, data_start_, SEEK_SET) != 0) return false;
    line_ = 1;
    return true;
}

}  // namespace Front
