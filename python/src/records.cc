#include "records.h"

#include <cfloat>
#include <climits>
#include <cstring>
#include <string>
#include <unordered_map>

namespace PyXelmd {

namespace {

template <typename T>
struct KindOf;
template <>
struct KindOf<int> {
    static constexpr Kind value = Kind::Int;
};
template <>
struct KindOf<short> {
    static constexpr Kind value = Kind::Short;
};
template <>
struct KindOf<double> {
    static constexpr Kind value = Kind::Double;
};
template <size_t N>
struct KindOf<char[N]> {
    static constexpr Kind value = Kind::Text;
};

#define XM(S, m)                                                           \
    Member {                                                               \
#m, offsetof(S, m), KindOf < decltype(S::m)> ::value, sizeof(S::m) \
    }

py::object& record_type() {
    static py::object* type = new py::object();  // never destroyed: outlives finalization
    return *type;
}

py::object read_member(const Member& m, const char* base) {
    const char* p = base + m.offset;
    switch (m.kind) {
        case Kind::Text: {
            size_t n = strnlen(p, m.size);
            if (n == 0) return py::none();
            return py::reinterpret_steal<py::object>(PyUnicode_DecodeLatin1(p, n, nullptr));
        }
        case Kind::Int: {
            int v;
            memcpy(&v, p, sizeof v);
            return v == INT_MAX ? py::object(py::none()) : py::int_(v);
        }
        case Kind::Short: {
            short v;
            memcpy(&v, p, sizeof v);
            return py::int_(v);
        }
        case Kind::Double: {
            double v;
            memcpy(&v, p, sizeof v);
            return v == DBL_MAX ? py::object(py::none()) : py::float_(v);
        }
    }
    return py::none();
}

void write_member(const Member& m, py::handle value, char* base) {
    char* p = base + m.offset;
    if (value.is_none()) {
        const int null_int = INT_MAX;
        const double null_double = DBL_MAX;
        if (m.kind == Kind::Int) memcpy(p, &null_int, sizeof null_int);
        if (m.kind == Kind::Double) memcpy(p, &null_double, sizeof null_double);
        return;
    }
    switch (m.kind) {
        case Kind::Text: {
            std::string s = value.cast<std::string>();
            if (s.size() >= m.size)
                throw py::value_error(std::string(m.name) + " takes at most " +
                                      std::to_string(m.size - 1) + " bytes");
            memcpy(p, s.data(), s.size());
            return;
        }
        case Kind::Int: {
            int v = value.cast<int>();
            memcpy(p, &v, sizeof v);
            return;
        }
        case Kind::Short: {
            short v = value.cast<short>();
            memcpy(p, &v, sizeof v);
            return;
        }
        case Kind::Double: {
            double v = value.cast<double>();
            memcpy(p, &v, sizeof v);
            return;
        }
    }
}

}  // namespace

const Table& Records::login_request() {
    using S = CTarnXeloReqUserLoginField;
    static const Table t = {XM(S, TradingDay),      XM(S, UserID),
                            XM(S, ParticipantID),   XM(S, Password),
                            XM(S, UserProductInfo), XM(S, InterfaceProductInfo),
                            XM(S, ProtocolInfo),    XM(S, DataCenterID)};
    return t;
}

const Table& Records::login_response() {
    using S = CTarnXeloRspUserLoginField;
    static const Table t = {XM(S, TradingDay),   XM(S, LoginTime),       XM(S, MaxOrderLocalID),
                            XM(S, UserID),       XM(S, ParticipantID),   XM(S, TradingSystemName),
                            XM(S, DataCenterID), XM(S, PrivateFlowSize), XM(S, UserFlowSize),
                            XM(S, ActionDay)};
    return t;
}

const Table& Records::rsp_info() {
    using S = CTarnXeloRspInfoField;
    static const Table t = {XM(S, ErrorID), XM(S, ErrorMsg)};
    return t;
}

const Table& Records::logout() {
    // The request and the response share one layout.
    using S = CTarnXeloReqUserLogoutField;
    static const Table t = {XM(S, UserID), XM(S, ParticipantID)};
    return t;
}

const Table& Records::password_update() {
    using S = CTarnXeloUserPasswordUpdateField;
    static const Table t = {XM(S, UserID), XM(S, ParticipantID), XM(S, OldPassword),
                            XM(S, NewPassword)};
    return t;
}

const Table& Records::dissemination() {
    using S = CTarnXeloDisseminationField;
    static const Table t = {XM(S, SequenceSeries), XM(S, SequenceNo)};
    return t;
}

const Table& Records::flow_message_cancel() {
    using S = CTarnXeloFlowMessageCancelField;
    static const Table t = {XM(S, SequenceSeries), XM(S, TradingDay), XM(S, DataCenterID),
                            XM(S, StartSequenceNo), XM(S, EndSequenceNo)};
    return t;
}

const Table& Records::depth() {
    using S = CTarnXeloDepthMarketDataField;
    static const Table t = {XM(S, TradingDay),
                            XM(S, SettlementGroupID),
                            XM(S, SettlementID),
                            XM(S, LastPrice),
                            XM(S, PreSettlementPrice),
                            XM(S, PreClosePrice),
                            XM(S, PreOpenInterest),
                            XM(S, OpenPrice),
                            XM(S, HighestPrice),
                            XM(S, LowestPrice),
                            XM(S, Volume),
                            XM(S, Turnover),
                            XM(S, OpenInterest),
                            XM(S, ClosePrice),
                            XM(S, SettlementPrice),
                            XM(S, UpperLimitPrice),
                            XM(S, LowerLimitPrice),
                            XM(S, PreDelta),
                            XM(S, CurrDelta),
                            XM(S, UpdateTime),
                            XM(S, UpdateMillisec),
                            XM(S, InstrumentID),
                            XM(S, BidPrice1),
                            XM(S, BidVolume1),
                            XM(S, AskPrice1),
                            XM(S, AskVolume1),
                            XM(S, BidPrice2),
                            XM(S, BidVolume2),
                            XM(S, AskPrice2),
                            XM(S, AskVolume2),
                            XM(S, BidPrice3),
                            XM(S, BidVolume3),
                            XM(S, AskPrice3),
                            XM(S, AskVolume3),
                            XM(S, BidPrice4),
                            XM(S, BidVolume4),
                            XM(S, AskPrice4),
                            XM(S, AskVolume4),
                            XM(S, BidPrice5),
                            XM(S, BidVolume5),
                            XM(S, AskPrice5),
                            XM(S, AskVolume5),
                            XM(S, ActionDay)};
    return t;
}

const Table& Records::depth_row() {
    static const Table t = [] {
        Table rows = depth();  // the record sits at offset 0 of DepthRow
        rows.push_back(XM(DepthRow, Topic));
        rows.push_back(XM(DepthRow, SequenceNo));
        return rows;
    }();
    return t;
}

// The members' names as interned Python strings, made once per table and
// kept for the life of the process.
static const std::vector<PyObject*>& keys(const Table& table) {
    static auto* made = new std::unordered_map<const Table*, std::vector<PyObject*>>();
    std::vector<PyObject*>& k = (*made)[&table];
    if (k.empty())
        for (const Member& m : table) k.push_back(PyUnicode_InternFromString(m.name));
    return k;
}

py::object Records::to_python(const Table& table, const void* record) {
    if (record == nullptr) return py::none();
    py::object out = record_type()();
    const char* base = static_cast<const char*>(record);
    const std::vector<PyObject*>& names = keys(table);
    for (size_t i = 0; i < table.size(); ++i)
        if (PyObject_SetAttr(out.ptr(), names[i], read_member(table[i], base).ptr()) != 0)
            throw py::error_already_set();
    return out;
}

void Records::from_python(const Table& table, py::handle source, void* record) {
    if (source.is_none()) return;
    py::dict items = py::isinstance<py::dict>(source) ? py::reinterpret_borrow<py::dict>(source)
                                                      : py::dict(source.attr("__dict__"));
    char* base = static_cast<char*>(record);
    for (auto item : items) {
        std::string name = py::str(item.first);
        const Member* found = nullptr;
        for (const Member& m : table)
            if (name == m.name) found = &m;
        if (found == nullptr) throw py::key_error("no member " + name + " in this record");
        write_member(*found, item.second, base);
    }
}

py::dict Records::numpy_layout(const Table& table, size_t itemsize) {
    py::list names, formats, offsets;
    for (const Member& m : table) {
        names.append(m.name);
        switch (m.kind) {
            case Kind::Text:
                formats.append("S" + std::to_string(m.size));
                break;
            case Kind::Int:
                formats.append("<i4");
                break;
            case Kind::Short:
                formats.append("<i2");
                break;
            case Kind::Double:
                formats.append("<f8");
                break;
        }
        offsets.append(m.offset);
    }
    py::dict layout;
    layout["names"] = names;
    layout["formats"] = formats;
    layout["offsets"] = offsets;
    layout["itemsize"] = itemsize;
    return layout;
}

void Records::set_record_type(py::object type) {
    record_type() = std::move(type);
}

}  // namespace PyXelmd
