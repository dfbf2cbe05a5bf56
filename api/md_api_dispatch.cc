// The receiving path: every packet of the response flow and of the topic
// flows, dispatched by tid to the callbacks, the login state, the flux
// counters, the market-data cache and the response log.
#include <cstring>

#include "api/depth_group.h"
#include "api/md_api.h"
#include "api/topic_key.h"
#include "base/field_desc.h"
#include "base/map.h"
#include "field/xelfield.h"

namespace Api {

namespace {

enum : unsigned int {
    TID_RSP_ERROR = 0x0001,
    TID_RSP_USER_LOGIN = 0x1002,
    TID_RSP_USER_LOGOUT = 0x1004,
    TID_RSP_USER_PASSWORD_UPDATE = 0x1010,
    TID_RSP_SUBSCRIBE_TOPIC = 0x1F02,
    TID_RSP_QRY_TOPIC = 0x4202,
    TID_RTN_FLOW_MESSAGE_CANCEL = 0x5201,
    TID_RTN_DEPTH_MARKET_DATA = 0x5803,
    TID_INTL_RTN_DISSEMINATION = 0x5901,
    TID_INTL_RTN_DEPTH_MARKET_DATA = 0x5902,
    TID_RSP_QRY_CRYPT_INFO = 0x6092,
};

enum : unsigned short {
    FID_DISSEMINATION = 0x0001,
    FID_RSP_INFO = 0x0003,
    FID_RSP_USER_LOGOUT = 0x000D,
    FID_USER_PASSWORD_UPDATE = 0x0032,
    FID_DEPTH_MARKET_DATA = 0x2408,
    FID_MARKET_DATA_FIRST_GROUP = 0x2431,  // base .. ask 4/5, in id order
    FID_MARKET_DATA_UPDATE_TIME = 0x2439,
    FID_FLOW_MESSAGE_CANCEL = 0x3201,
};

// Series without package callbacks: init, dialogue and private flows.
bool is_framed_series(unsigned int s) {
    return s != 0 && s != 1 && s != 4;
}

template <typename T>
T* as(char* buffer) {
    return reinterpret_cast<T*>(buffer);
}

}  // namespace

void MdApi::on_write(unsigned long id, const void* data, unsigned short length) {
    // Nothing reads a received packet after this call. A fast topic fills
    // blocks many times between timer passes; recycling as they fill keeps
    // a few warm blocks in turn, instead of new memory for every second.
    if ((id & (RECYCLE_EVERY - 1)) == 0) recycle_flows();
    const char* unit = static_cast<const char*>(data);
    if (!unit || length < Network::XmpPacket::HEADER_SIZE) return;
    // Transport header, its extension, the compression header, then the packet.
    int at = Network::XeloPacket::UNIT_PREFIX_SIZE + static_cast<unsigned char>(unit[1]);
    if (at > length) return;
    if (!Network::XeloPacket::from_stream(&packet_header_, unit + at, length - at)) return;
    packet_iterator_.attach(&packet_header_, unit + at + Network::XeloPacket::HEADER_SIZE);

    unsigned int series = packet_header_.sequence_series;
    int sequence_no = static_cast<int>(packet_header_.sequence_no);
    CTarnXeloMduserSpi* spi = callback_spi();
    bool framed = spi && is_framed_series(series);
    if (framed) spi->OnPackageStart(static_cast<int>(series), sequence_no);
    dispatch(packet_header_.tid, packet_header_.chain == Network::XeloPacket::CHAIN_LAST);
    // A callback inside the package may have released the API.
    if (framed && (spi = callback_spi())) spi->OnPackageEnd(static_cast<int>(series), sequence_no);
}

void MdApi::dispatch(unsigned int tid, bool last) {
    switch (tid) {
        case TID_RSP_ERROR:
            return on_rsp_error(last);
        case TID_RSP_USER_LOGIN:
            if (on_rsp_user_login())
                log_response(decode_[0], "OnRspUserLogin", decode_[1],
                             &Field::XelRspUserLoginField::DESC,
                             sizeof(CTarnXeloRspUserLoginField));
            return;
        case TID_RSP_USER_LOGOUT:
            return on_rsp_user_logout(last);
        case TID_RSP_USER_PASSWORD_UPDATE:
            return on_rsp_user_password_update(last);
        case TID_RSP_SUBSCRIBE_TOPIC:
            return on_rsp_subscribe_topic(last);
        case TID_RSP_QRY_TOPIC:
            return on_rsp_qry_topic(last);
        case TID_RTN_FLOW_MESSAGE_CANCEL:
            return on_rtn_flow_message_cancel();
        case TID_RTN_DEPTH_MARKET_DATA:
            return on_rtn_depth_market_data();
        case TID_INTL_RTN_DISSEMINATION:
            return on_intl_rtn_dissemination();
        case TID_INTL_RTN_DEPTH_MARKET_DATA:
            return on_intl_rtn_depth_market_data();
        case TID_RSP_QRY_CRYPT_INFO:
            return on_rsp_qry_crypt_info();
        default:
            return;
    }
}

bool MdApi::next_is(unsigned short field_id) {
    return packet_iterator_.next() == field_id;
}

void MdApi::count_response() {
    Base::MutexGuard guard(lock_);
    ++flux_.received;
}

void MdApi::log_response(const void* info, const char* label, const void* record,
                         const Base::FieldDesc* desc, int struct_size) {
    if (!response_log_open_.load(std::memory_order_relaxed)) return;
    log_line(response_log_, static_cast<const Field::XelRspInfoField*>(info), label, record, desc,
             struct_size, log_scratch_);
}

void MdApi::on_rsp_error(bool last) {
    if (!next_is(FID_RSP_INFO)) return;
    CTarnXeloRspInfoField* info = as<CTarnXeloRspInfoField>(decode_[0]);
    packet_iterator_.get_field(info, &Field::XelRspInfoField::from_stream, true);
    count_response();
    if (CTarnXeloMduserSpi* spi = callback_spi())
        spi->OnRspError(info, static_cast<int>(packet_header_.request_id), last);
    log_response(nullptr, "OnRspError", info, &Field::XelRspInfoField::DESC, sizeof *info);
}

void MdApi::on_rsp_user_logout(bool last) {
    if (!next_is(FID_RSP_INFO)) return;
    CTarnXeloRspInfoField* info = as<CTarnXeloRspInfoField>(decode_[0]);
    packet_iterator_.get_field(info, &Field::XelRspInfoField::from_stream, true);
    if (!next_is(FID_RSP_USER_LOGOUT)) return;
    CTarnXeloRspUserLogoutField* logout = as<CTarnXeloRspUserLogoutField>(decode_[1]);
    packet_iterator_.get_field(logout, &Field::XelRspUserLogoutField::from_stream, true);
    if (info->ErrorID == 0) {
        logged_in_ = false;
        memset(participant_id_, 0, sizeof participant_id_);
        memset(user_id_, 0, sizeof user_id_);
    }
    count_response();
    if (CTarnXeloMduserSpi* spi = callback_spi())
        spi->OnRspUserLogout(logout, info, static_cast<int>(packet_header_.request_id), last);
    log_response(info, "OnRspUserLogout", logout, &Field::XelRspUserLogoutField::DESC,
                 sizeof *logout);
}

void MdApi::on_rsp_user_password_update(bool last) {
    if (!next_is(FID_RSP_INFO)) return;
    CTarnXeloRspInfoField* info = as<CTarnXeloRspInfoField>(decode_[0]);
    packet_iterator_.get_field(info, &Field::XelRspInfoField::from_stream, true);
    if (!next_is(FID_USER_PASSWORD_UPDATE)) return;
    CTarnXeloUserPasswordUpdateField* update = as<CTarnXeloUserPasswordUpdateField>(decode_[1]);
    packet_iterator_.get_field(update, &Field::XelUserPasswordUpdateField::from_stream, true);
    count_response();
    if (CTarnXeloMduserSpi* spi = callback_spi())
        spi->OnRspUserPasswordUpdate(update, info, static_cast<int>(packet_header_.request_id),
                                     last);
    // The application has seen them; the log never does.
    memset(update->OldPassword, 0, sizeof update->OldPassword);
    memset(update->NewPassword, 0, sizeof update->NewPassword);
    log_response(info, "OnRspUserPasswordUpdate", update, &Field::XelUserPasswordUpdateField::DESC,
                 sizeof *update);
}

void MdApi::on_rsp_subscribe_topic(bool last) {
    if (!next_is(FID_RSP_INFO)) return;
    CTarnXeloRspInfoField* info = as<CTarnXeloRspInfoField>(decode_[0]);
    packet_iterator_.get_field(info, &Field::XelRspInfoField::from_stream, true);
    if (!next_is(FID_DISSEMINATION)) return;
    CTarnXeloDisseminationField* topic = as<CTarnXeloDisseminationField>(decode_[1]);
    packet_iterator_.get_field(topic, &Field::XelDisseminationField::from_stream, true);
    count_response();
    if (CTarnXeloMduserSpi* spi = callback_spi())
        spi->OnRspSubscribeTopic(topic, info, static_cast<int>(packet_header_.request_id), last);
    log_response(info, "OnRspSubscribeTopic", topic, &Field::XelDisseminationField::DESC,
                 sizeof *topic);
}

// One callback per topic record; an info waits for the record after it, and
// one that follows a record is reported again with that record.
void MdApi::on_rsp_qry_topic(bool chain_last) {
    if (chain_last) count_response();
    int request_id = static_cast<int>(packet_header_.request_id);
    CTarnXeloDisseminationField* current = nullptr;
    CTarnXeloRspInfoField* pending = nullptr;
    bool any_record = false;
    int id;
    while (packet_iterator_.get_position() < packet_header_.content_length &&
           (id = packet_iterator_.next()) >= 0) {
        if (id == FID_DISSEMINATION) {
            current = as<CTarnXeloDisseminationField>(decode_[1]);
            packet_iterator_.get_field(current, &Field::XelDisseminationField::from_stream, true);
            any_record = true;
        } else if (id == FID_RSP_INFO) {
            pending = as<CTarnXeloRspInfoField>(decode_[0]);
            packet_iterator_.get_field(pending, &Field::XelRspInfoField::from_stream, true);
        }
        if (!current) continue;
        bool last = chain_last && packet_iterator_.get_position() >= packet_header_.content_length;
        if (CTarnXeloMduserSpi* spi = callback_spi())
            spi->OnRspQryTopic(current, pending, request_id, last);
        log_response(pending, "OnRspQryTopic", current, &Field::XelDisseminationField::DESC,
                     sizeof *current);
        pending = nullptr;
    }
    if (any_record) return;
    if (CTarnXeloMduserSpi* spi = callback_spi())
        spi->OnRspQryTopic(nullptr, pending, request_id, chain_last);
    log_response(pending, "OnRspQryTopic", nullptr, nullptr, 0);
}

void MdApi::on_rtn_flow_message_cancel() {
    if (!next_is(FID_FLOW_MESSAGE_CANCEL)) return;
    CTarnXeloFlowMessageCancelField* cancel = as<CTarnXeloFlowMessageCancelField>(decode_[0]);
    packet_iterator_.get_field(cancel, &Field::XelFlowMessageCancelField::from_stream, true);
    if (CTarnXeloMduserSpi* spi = callback_spi()) spi->OnRtnFlowMessageCancel(cancel);
    log_response(nullptr, "OnRtnFlowMessageCancel", cancel, &Field::XelFlowMessageCancelField::DESC,
                 sizeof *cancel);
}

// Where a whole snapshot carries InstrumentID on the wire.
static int instrument_stream_offset() {
    static const int offset = [] {
        const Base::FieldDesc& d = Field::XelDepthMarketDataField::DESC;
        return d.get_member_desc(d.get_member_index("InstrumentID"))->stream_offset;
    }();
    return offset;
}

void MdApi::on_rtn_depth_market_data() {
    if (!next_is(FID_DEPTH_MARKET_DATA)) return;
    // The cache is looked up from the wire's instrument first, so that its
    // memory is on the way while the record decodes; a short (older)
    // record is keyed after decoding instead.
    unsigned short length;
    const char* wire = static_cast<const char*>(packet_iterator_.get_field(length));
    void* cached = nullptr;
    bool keyed = md_cache_ && length >= Field::XelDepthMarketDataField::DESC.stream_size;
    if (keyed) {
        set_topic_key(&instrument_key_, packet_header_.sequence_series,
                      wire + instrument_stream_offset());
        cached = md_cache_->search(&instrument_key_);
    }
    // A cached instrument's record is decoded in place: the decoder writes
    // every member (zero behind a short record), as the copy did.
    CTarnXeloDepthMarketDataField* record =
        cached ? static_cast<CTarnXeloDepthMarketDataField*>(cached)
               : as<CTarnXeloDepthMarketDataField>(decode_[0]);
    packet_iterator_.get_field(record, &Field::XelDepthMarketDataField::from_stream, true);
    if (!cached && md_cache_) {
        if (!keyed)
            set_topic_key(&instrument_key_, packet_header_.sequence_series, record->InstrumentID);
        if (!has_cache_room()) return;
        md_cache_->insert(&instrument_key_, record);
    }
    if (CTarnXeloMduserSpi* spi = callback_spi()) spi->OnRtnDepthMarketData(record);
    log_response(nullptr, "OnRtnDepthMarketData", record, &Field::XelDepthMarketDataField::DESC,
                 sizeof *record);
}

CTarnXeloDepthMarketDataField* MdApi::select_instrument(const char* instrument, bool add) {
    if (!md_cache_) return nullptr;
    set_topic_key(&instrument_key_, packet_header_.sequence_series, instrument);
    void* value = md_cache_->search(&instrument_key_);
    if (!value && add && has_cache_room())
        value = md_cache_->insert(&instrument_key_, nullptr);  // zero-filled
    return static_cast<CTarnXeloDepthMarketDataField*>(value);
}

// A front must not be able to take all memory with new instrument names:
// past the ceiling, updates of new instruments are dropped, with one line
// per connection.
bool MdApi::has_cache_room() {
    unsigned long buckets = 0, count = 0;
    md_cache_->get_size(buckets, count);
    if (count < MAX_CACHED_INSTRUMENTS) return true;
    if (!cache_full_reported_) {
        fprintf(stderr,
                "ERR! market-data cache full (%lu instruments): update of topic %u instrument "
                "[%s] dropped, as every update of a new instrument will be\n",
                count, instrument_key_.topic, instrument_key_.instrument);
        fflush(stderr);
        cache_full_reported_ = true;
    }
    return false;
}

// Groups: an update-time field selects (or creates) the instrument's cached
// record, the fields after it overwrite their members there.
void MdApi::on_intl_rtn_depth_market_data() {
    CTarnXeloDepthMarketDataField* current = nullptr;
    const DepthGroup* groups = get_depth_groups();
    int id;
    while (packet_iterator_.get_position() < packet_header_.content_length &&
           (id = packet_iterator_.next()) >= 0) {
        if (id == FID_MARKET_DATA_UPDATE_TIME) {
            Field::XelMarketDataUpdateTimeField* time =
                as<Field::XelMarketDataUpdateTimeField>(decode_[1]);
            packet_iterator_.get_field(time, &Field::XelMarketDataUpdateTimeField::from_stream,
                                       true);
            current = select_instrument(time->InstrumentID, true);
            // The key holds the id as the record keeps it: 30 characters at
            // most, zero behind.
            if (current) apply_update_time(current, time, instrument_key_.instrument);
        } else if (id >= FID_MARKET_DATA_FIRST_GROUP && id < FID_MARKET_DATA_UPDATE_TIME) {
            if (!current) continue;
            const DepthGroup& group = groups[id - FID_MARKET_DATA_FIRST_GROUP];
            packet_iterator_.get_field(decode_[1], group.from_stream, true);
            apply_depth_group(current, group, decode_[1]);
        }
    }
    if (!current) return;
    if (CTarnXeloMduserSpi* spi = callback_spi()) spi->OnRtnDepthMarketData(current);
    log_response(nullptr, "OnRtnDepthMarketData", current, &Field::XelDepthMarketDataField::DESC,
                 sizeof *current);
}

}  // namespace Api
