// Requests other than the login, their flow control and the log-line writer.
#include <cstring>

#include "api/md_api.h"
#include "base/field_desc.h"
#include "base/measure.h"
#include "field/xelfield.h"
#include "network/xmp_packet.h"

namespace Api {

namespace {

const unsigned short TID_REQ_USER_LOGOUT = 0x1003;
const unsigned short TID_REQ_USER_PASSWORD_UPDATE = 0x100F;
const unsigned short TID_REQ_SUBSCRIBE_TOPIC = 0x1F01;
const unsigned short TID_REQ_QRY_TOPIC = 0x4201;
const unsigned long LOG_CENTURY = 20000000000000000UL;  // yy -> 20yy in front
const unsigned long LOG_TICKS_PER_MS = 10000UL;

// At most size - 1 characters of src, the rest of dst zero.
void copy_bounded(char* dst, const char* src, size_t size) {
    size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    memset(dst + n, 0, size - n);
}

void zero_passwords(void* record) {
    Field::XelUserPasswordUpdateField* r = static_cast<Field::XelUserPasswordUpdateField*>(record);
    memset(r->OldPassword, 0, sizeof r->OldPassword);
    memset(r->NewPassword, 0, sizeof r->NewPassword);
}

}  // namespace

unsigned long MdApi::get_clock_ms() {
    return Base::Measure::get_clock() / LOG_TICKS_PER_MS;
}

unsigned long MdApi::get_local_time() {
    return Base::Measure::get_time(Base::Measure::get_local_clock());
}

int MdApi::control_flux(FluxValue* flux, unsigned long now) {
    // A stall begins at the first refusal for unanswered requests and lets
    // one request through once ten seconds have passed.
    if (flux->outstanding_limit != 0 && flux->sent >= flux->received + flux->outstanding_limit) {
        if (flux->stamp == 0) flux->stamp = now;
        if (flux->stamp + FLUX_STALL_MS >= now) return ERR_UNANSWERED;
        flux->stamp = 0;
    }
    if (flux->per_second_limit == 0) return 0;
    if (flux->stamp + FLUX_WINDOW_MS < now) {
        flux->window_base = flux->sent;
        flux->stamp = now;
        return 0;
    }
    return flux->sent < flux->window_base + flux->per_second_limit ? 0 : ERR_RATE;
}

int MdApi::control_flux(FluxValue* flux) {
    return control_flux(flux, clock_ms_());
}

unsigned long MdApi::log_stamp(unsigned long local_time) {
    return local_time / LOG_TICKS_PER_MS + LOG_CENTURY;
}

void MdApi::write_log(FILE* log, const Field::XelRspInfoField* info, const char* label,
                      const void* record, const Base::FieldDesc* desc, int struct_size,
                      char* scratch) {
    write_log(log, info, label, record, desc, struct_size, scratch, local_time_());
}

void MdApi::write_log(FILE* log, const Field::XelRspInfoField* info, const char* label,
                      const void* record, const Base::FieldDesc* desc, int struct_size,
                      char* scratch, unsigned long local_time) {
    if (!log) return;
    fprintf(log, "%llu,%s,", static_cast<unsigned long long>(log_stamp(local_time)), label);
    if (info)
        fprintf(log, "%d,%.*s,", info->ErrorID, static_cast<int>(sizeof info->ErrorMsg - 1),
                info->ErrorMsg);
    if (record && desc) {
        if (struct_size != 0) {
            Network::XmpPacket::from_struct(desc, scratch, record, struct_size);
            record = scratch;
        }
        desc->write_field(record, true, log, false, true, nullptr);
    }
    fputc('\n', log);
    fflush(log);
}

// The steps every request shares once its own checks have passed.
int MdApi::send_request(unsigned short tid, int request_id, const Base::FieldDesc* desc,
                        const void* record, const char* label, void (*before_log)(void*)) {
    Base::MutexGuard guard(lock_);
    if (!request_writer_) return ERR_NOT_LOGGED_IN;  // no connection was ever made
    int rc = control_flux(&flux_);
    if (rc < 0) return rc;
    Network::XeloPacket* packet = request_writer_->alloc_packet(tid, Network::XeloPacket::VERSION);
    if (!packet) return ERR_NOT_AVAILABLE;  // the flow could not take memory
    ++flux_.sent;
    packet->header.request_id = static_cast<unsigned int>(request_id);
    memcpy(request_scratch_, record, desc->struct_size);
    packet->add_field(desc, request_scratch_, nullptr);
    request_writer_->commit_packet(true);
    if (before_log) before_log(request_scratch_);
    log_line(request_log_, nullptr, label, request_scratch_, desc, 0, log_scratch_);
    return 0;
}

int MdApi::ReqUserLogout(CTarnXeloReqUserLogoutField* record, int request_id) {
    CallScope scope(this);
    if (!scope.entered()) return ERR_RELEASED;
    if (!logged_in_) return ERR_NOT_LOGGED_IN;
    Field::XelReqUserLogoutField r = {};
    if (record) {
        copy_bounded(r.UserID, record->UserID, sizeof r.UserID);
        copy_bounded(r.ParticipantID, record->ParticipantID, sizeof r.ParticipantID);
    }
    return send_request(TID_REQ_USER_LOGOUT, request_id, &Field::XelReqUserLogoutField::DESC, &r,
                        "ReqUserLogout", nullptr);
}

int MdApi::ReqUserPasswordUpdate(CTarnXeloUserPasswordUpdateField* record, int request_id) {
    CallScope scope(this);
    if (!scope.entered()) return ERR_RELEASED;
    if (!logged_in_) return ERR_NOT_LOGGED_IN;
    Field::XelUserPasswordUpdateField r = {};
    if (record) {
        // These terminators stay in the caller's record even on refusal.
        record->ParticipantID[10] = 0;
        if (strncmp(record->ParticipantID, participant_id_, 10) != 0) return ERR_OTHER_PARTICIPANT;
        record->UserID[15] = 0;
        if (strncmp(record->UserID, user_id_, 15) != 0) return ERR_OTHER_USER;
        copy_bounded(r.UserID, record->UserID, sizeof r.UserID);
        copy_bounded(r.ParticipantID, record->ParticipantID, sizeof r.ParticipantID);
        copy_bounded(r.OldPassword, record->OldPassword, sizeof r.OldPassword);
        copy_bounded(r.NewPassword, record->NewPassword, sizeof r.NewPassword);
    } else {
        if (participant_id_[0] != 0) return ERR_OTHER_PARTICIPANT;
        if (user_id_[0] != 0) return ERR_OTHER_USER;
    }
    // A logout response may have come in meanwhile.
    if (!logged_in_) return ERR_NOT_LOGGED_IN;
    int rc = send_request(TID_REQ_USER_PASSWORD_UPDATE, request_id,
                          &Field::XelUserPasswordUpdateField::DESC, &r, "ReqUserPasswordUpdate",
                          &zero_passwords);
    zero_passwords(&r);
    return rc;
}

int MdApi::ReqSubscribeTopic(CTarnXeloDisseminationField* record, int request_id) {
    CallScope scope(this);
    if (!scope.entered()) return ERR_RELEASED;
    Field::XelDisseminationField r = {};
    if (record) {
        r.SequenceSeries = record->SequenceSeries;
        r.SequenceNo = record->SequenceNo;
    }
    {
        Base::MutexGuard guard(lock_);
        if (topic_count_ >= MAX_TOPICS) return ERR_TABLE_FULL;
        // Asked for now, so the next login must not ask for it again.
        if (TopicEntry* entry = get_market_data_subject(r.SequenceSeries))
            entry->send_at_login = false;
    }
    if (!logged_in_) return ERR_NOT_LOGGED_IN;
    return send_request(TID_REQ_SUBSCRIBE_TOPIC, request_id, &Field::XelDisseminationField::DESC,
                        &r, "ReqSubscribeTopic", nullptr);
}

int MdApi::ReqQryTopic(CTarnXeloDisseminationField* record, int request_id) {
    CallScope scope(this);
    if (!scope.entered()) return ERR_RELEASED;
    if (!logged_in_) return ERR_NOT_LOGGED_IN;
    Field::XelDisseminationField r = {};
    if (record) {
        r.SequenceSeries = record->SequenceSeries;
        r.SequenceNo = record->SequenceNo;
    }
    return send_request(TID_REQ_QRY_TOPIC, request_id, &Field::XelDisseminationField::DESC, &r,
                        "ReqQryTopic", nullptr);
}

}  // namespace Api
