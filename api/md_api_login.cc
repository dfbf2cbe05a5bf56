// The key exchange after each connection, the login queue and packet, and
// the handling of the key-exchange reply and the login response.
#include <cstring>

#include "api/api_info.h"
#include "api/key_exchange.h"
#include "api/md_api.h"
#include "base/data_flow_iterator.h"
#include "base/measure.h"
#include "field/xelfield.h"
#include "network/xelo_bond_client_session.h"
#include "network/xelo_client_channel.h"
#include "parallel/fd_reactor.h"

namespace Api {

namespace {

enum : unsigned short {
    TID_REQ_QRY_CRYPT_INFO = 0x6091,
    TID_REQ_USER_LOGIN = 0x1001,
    FID_RSP_INFO = 0x0003,
    FID_RSP_USER_LOGIN = 0x000B,
    FID_INIT_AUTH_INFO = 0x800A,
    FID_SESSION_AUTH_INFO = 0x8017,
};

const int PROTOCOL_INFO_SIZE = 41;

}  // namespace

void MdApi::send_key_exchange() {
    int major = 0, minor = 0;
    CTarnXeloMduserApi::GetVersion(major, minor);
    Network::XeloPacket* packet =
        init_writer_->alloc_packet(TID_REQ_QRY_CRYPT_INFO, Network::XeloPacket::VERSION);
    packet->header.request_id = 0;
    Field::XelUserapiInitAuthInfoField init = {(major % 10000) * 10000 + minor};
    packet->add_field(&Field::XelUserapiInitAuthInfoField::DESC, &init,
                      &Field::XelUserapiInitAuthInfoField::to_stream);
    KeyExchange::build_text(&key_pair_, public_key_text_);
    Field::XelUserapiSessionAuthInfoField text;
    memcpy(text.EncryptUserApiInfo, public_key_text_, sizeof text.EncryptUserApiInfo);
    packet->add_field(&Field::XelUserapiSessionAuthInfoField::DESC, &text,
                      &Field::XelUserapiSessionAuthInfoField::to_stream);
    init_writer_->commit_packet(true);

    session_->subscribe(response_flow_, nullptr, 0, false);
    session_->publish(request_flow_, 0, nullptr, nullptr);
    session_->publish(init_flow_, 0, nullptr, nullptr);
    if (CTarnXeloMduserSpi* spi = callback_spi()) spi->OnFrontConnected();
}

void MdApi::on_rsp_qry_crypt_info() {
    if (packet_iterator_.next() != FID_RSP_INFO) return;
    CTarnXeloRspInfoField* info = reinterpret_cast<CTarnXeloRspInfoField*>(decode_[0]);
    packet_iterator_.get_field(info, &Field::XelRspInfoField::from_stream, true);
    if (info->ErrorID != 0) {
        // The handshake stays incomplete: queued logins wait.
        if (CTarnXeloMduserSpi* spi = callback_spi())
            spi->OnRspError(info, static_cast<int>(packet_header_.request_id),
                            packet_header_.chain == Network::XeloPacket::CHAIN_LAST);
        return;
    }
    if (packet_iterator_.next() != FID_INIT_AUTH_INFO) return;
    Field::XelUserapiInitAuthInfoField init = {0};
    packet_iterator_.get_field(&init, &Field::XelUserapiInitAuthInfoField::from_stream, true);
    init_encrypt_info_ = init.InitEncryptInfo;
    // Without the session text the channel keeps its cipher.
    if (packet_iterator_.next() == FID_SESSION_AUTH_INFO && !set_channel_key()) return;
    handshake_done_ = true;
    if (reactor_) reactor_->add_event(EVENT_LOGIN, nullptr, nullptr, this, false);
}

bool MdApi::set_channel_key() {
    Field::XelUserapiSessionAuthInfoField* text =
        reinterpret_cast<Field::XelUserapiSessionAuthInfoField*>(decode_[1]);
    packet_iterator_.get_field(text, &Field::XelUserapiSessionAuthInfoField::from_stream, true);
    text->EncryptUserApiInfo[sizeof text->EncryptUserApiInfo - 1] = '\0';
    unsigned char type = 0;
    unsigned long key = 0;
    int rc =
        KeyExchange::derive_key(&key_pair_, public_key_text_, text->EncryptUserApiInfo, type, key);
    if (rc < 0) {
        close_later(CLOSE_BAD_KEY);
        return false;
    }
    if (rc > 0 && session_) session_->set_cipher(type, key);
    return true;
}

bool MdApi::is_connected_now() {
    return last_heartbeat_check_ != 0 && is_channel_open();
}

int MdApi::ReqUserLogin(CTarnXeloReqUserLoginField* record, int request_id) {
    CallScope scope(this);
    if (!scope.entered()) return ERR_RELEASED;
    if (state_.load(std::memory_order_acquire) != STATE_STARTED) return ERR_NOT_INITED;
    // The connection state belongs to the reactor thread: ask it there.
    bool connected = false;
    run_on_reactor(EVENT_CHECK_CONNECTION, &connected);
    if (!connected) return ERR_NOT_CONNECTED;
    if (!record) return ERR_BLANK_PRODUCT;
    record->UserProductInfo[40] = '\0';
    if (is_null_string(record->UserProductInfo)) return ERR_BLANK_PRODUCT;
    if (logged_in_) return ERR_LOGGED_IN;

    unsigned long now = Base::Measure::get_clock() / 10000;
    {
        Base::MutexGuard guard(lock_);
        int rc = control_flux(&flux_);
        if (rc < 0) return rc;
        ++flux_.sent;
        // Logins are spaced by a second per API object: a login too soon
        // after the last one is queued with the time it may leave, and the
        // reactor thread holds it back until then. Nobody sleeps.
        unsigned long due =
            last_login_time_ + LOGIN_SPACING_MS > now ? last_login_time_ + LOGIN_SPACING_MS : now;
        last_login_time_ = due;
        char* object = static_cast<char*>(login_queue_->alloc_object(LOGIN_OBJECT_SIZE));
        unsigned short kind = LOGIN_KIND;
        unsigned int id = static_cast<unsigned int>(request_id);
        memcpy(object, &kind, sizeof kind);
        memcpy(object + 2, &id, sizeof id);
        memcpy(object + 6, &due, sizeof due);
        memcpy(object + 14, record, sizeof *record);
        login_queue_->commit_object(LOGIN_OBJECT_SIZE, false);
    }
    reactor_->add_event(EVENT_LOGIN, nullptr, nullptr, this, false);
    return 0;
}

void MdApi::send_queued_logins() {
    if (!handshake_done_) return;
    unsigned long now = Base::Measure::get_clock() / 10000;
    if (!send_pending_login(now)) return;
    for (;;) {
        const Base::DataFlow::Iterator::Result* r = login_iterator_->next();
        if (!r) {
            if (login_iterator_->follow_successor()) continue;
            return;
        }
        unsigned short kind = 0;
        if (r->length < LOGIN_OBJECT_SIZE) continue;
        memcpy(&kind, r->data, sizeof kind);
        if (kind != LOGIN_KIND) continue;
        unsigned int id = 0;
        memcpy(&id, r->data + 2, sizeof id);
        memcpy(&pending_login_.due_ms, r->data + 6, sizeof pending_login_.due_ms);
        memcpy(&pending_login_.record, r->data + 14, sizeof pending_login_.record);
        pending_login_.request_id = static_cast<int>(id);
        pending_login_.waiting = true;
        if (!send_pending_login(now)) return;
    }
}

bool MdApi::send_pending_login(unsigned long now_ms) {
    if (!pending_login_.waiting) return true;
    if (pending_login_.due_ms > now_ms) {
        if (login_timer_) reactor_->enable_timer(login_timer_, false);
        return false;
    }
    pending_login_.waiting = false;
    on_api_req_user_login(&pending_login_.record, pending_login_.request_id);
    return true;
}

void MdApi::on_api_req_user_login(CTarnXeloReqUserLoginField* record, int request_id) {
    Network::XeloPacket* packet =
        init_writer_->alloc_packet(TID_REQ_USER_LOGIN, Network::XeloPacket::VERSION);
    packet->header.request_id = static_cast<unsigned int>(request_id);
    Field::XelReqUserLoginField r;
    memset(&r, 0, sizeof r);
    copy_text(r.UserID, record->UserID, sizeof r.UserID);
    copy_text(r.ParticipantID, record->ParticipantID, sizeof r.ParticipantID);
    copy_text(r.Password, record->Password, sizeof r.Password);
    copy_text(r.UserProductInfo, record->UserProductInfo, sizeof r.UserProductInfo);
    copy_text(r.TradingDay, trading_day_, sizeof r.TradingDay);
    r.DataCenterID = data_center_id_;
    int major = 0, minor = 0;
    copy_text(r.InterfaceProductInfo, CTarnXeloMduserApi::GetVersion(major, minor),
              sizeof r.InterfaceProductInfo);
    // "XELO <version>", its zero, then the terminal tag filling the rest.
    int n = snprintf(r.ProtocolInfo, sizeof r.ProtocolInfo, "XELO %d", packet->header.version);
    get_api_info(r.ProtocolInfo + n + 1, PROTOCOL_INFO_SIZE - 1 - n, r.UserID);
    packet->add_field(&Field::XelReqUserLoginField::DESC, &r,
                      &Field::XelReqUserLoginField::to_stream);

    memset(r.Password, 0, sizeof r.Password);
    log_line(request_log_, nullptr, "ReqUserLogin", &r, &Field::XelReqUserLoginField::DESC, 0,
             log_scratch_);
    {
        Base::MutexGuard guard(lock_);
        for (int i = 0; i < topic_count_; ++i) {
            const TopicEntry& entry = topics_[i];
            if (!entry.send_at_login || !entry.flow) continue;
            Field::XelDisseminationField d;
            d.SequenceSeries = static_cast<short>(entry.topic_id);
            d.SequenceNo = entry.resume_type == TE_RESUME_FROM_NOW
                               ? -1
                               : static_cast<int>(entry.flow->get_count());
            packet->add_field(&Field::XelDisseminationField::DESC, &d,
                              &Field::XelDisseminationField::to_stream);
        }
    }
    Field::XelUserapiAuthenticInfoField auth;
    memset(&auth, 0, sizeof auth);
    if (encrypt_user_api_info(&auth))
        packet->add_field(&Field::XelUserapiAuthenticInfoField::DESC, &auth,
                          &Field::XelUserapiAuthenticInfoField::to_stream);
    init_writer_->commit_packet(true);
}

int MdApi::encrypt_user_api_info(Field::XelUserapiAuthenticInfoField* out) {
    return encrypt_api_info(out->EncryptUserApiInfo, init_encrypt_info_, front_mode_);
}

bool MdApi::on_rsp_user_login() {
    if (packet_iterator_.next() != FID_RSP_INFO) return false;
    CTarnXeloRspInfoField* info = reinterpret_cast<CTarnXeloRspInfoField*>(decode_[0]);
    packet_iterator_.get_field(info, &Field::XelRspInfoField::from_stream, true);
    if (packet_iterator_.next() != FID_RSP_USER_LOGIN) {
        close_later(CLOSE_NO_LOGIN_RECORD);
        return false;
    }
    CTarnXeloRspUserLoginField* login = reinterpret_cast<CTarnXeloRspUserLoginField*>(decode_[1]);
    packet_iterator_.get_field(login, &Field::XelRspUserLoginField::from_stream, true);
    copy_text(trading_day_, login->TradingDay, sizeof trading_day_);
    data_center_id_ = login->DataCenterID;
    if (info->ErrorID == 0) {
        copy_text(user_id_, login->UserID, sizeof user_id_);
        copy_text(participant_id_, login->ParticipantID, sizeof participant_id_);
        logged_in_ = true;
    }
    count_response();
    if (CTarnXeloMduserSpi* spi = callback_spi())
        spi->OnRspUserLogin(login, info, static_cast<int>(packet_header_.request_id),
                            packet_header_.chain == Network::XeloPacket::CHAIN_LAST);
    return true;
}

void MdApi::subscribe_topic_flow(Network::XeloFlow* flow) {
    if (session_) session_->subscribe(flow, nullptr, 0, false);
}

}  // namespace Api
