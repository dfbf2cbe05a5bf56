// Records of the interface as Python values: each record type has a table
// of its members (name, offset, kind, size) built from the C layout, used to
// turn a record into a Python object, fill a record from Python, and describe
// the depth record to NumPy.
#ifndef XELMD_PYTHON_RECORDS_H
#define XELMD_PYTHON_RECORDS_H

#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

#include "TarnXeloMduserApi.h"

namespace PyXelmd {

namespace py = pybind11;

enum class Kind { Text, Int, Short, Double };

struct Member {
    const char* name;
    size_t offset;
    Kind kind;
    size_t size;
};

using Table = std::vector<Member>;

// A depth record as queued for Python: the record, then the topic and the
// packet's sequence number it came in.
struct DepthRow {
    CTarnXeloDepthMarketDataField record;
    int Topic;
    int SequenceNo;
};

class Records {
  public:
    static const Table& login_request();
    static const Table& login_response();
    static const Table& rsp_info();
    static const Table& logout();
    static const Table& password_update();
    static const Table& dissemination();
    static const Table& flow_message_cancel();
    static const Table& depth();
    // The depth table plus Topic and SequenceNo, offsets within DepthRow.
    static const Table& depth_row();

    // A new xelmd.Record (None for a null pointer); null members read None.
    static py::object to_python(const Table& table, const void* record);
    // Fills a zeroed record from a mapping or an object's attributes; an
    // unknown name, a wrong type or a text too long raises.
    static void from_python(const Table& table, py::handle source, void* record);
    // (names, formats, offsets, itemsize) for numpy.dtype.
    static py::dict numpy_layout(const Table& table, size_t itemsize);

    static void set_record_type(py::object type);
};

}  // namespace PyXelmd

#endif  // XELMD_PYTHON_RECORDS_H
