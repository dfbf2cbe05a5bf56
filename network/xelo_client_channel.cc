#include "network/xelo_client_channel.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>

#include "base/byte_order.h"
#include "base/data_reader.h"
#include "base/measure.h"
#include "network/client_session.h"
#include "network/crp_packet.h"
#include "network/xelo_flow.h"
#include "network/xelo_flow_reader.h"
#include "parallel/fd_notify.h"
#include "parallel/fd_reactor.h"
#include "parallel/reporter.h"

namespace Network {

namespace {

const int HEADER = XmpPacket::HEADER_SIZE;        // transport header
const int PREFIX = XeloPacket::UNIT_PREFIX_SIZE;  // transport + compression header
const int PACKET_HEADER = XeloPacket::HEADER_SIZE;
// Expansion and compression work on one frame's packet at a time.
const int CODEC_CAPACITY = 8194;
const int DECRYPT_SIZE = 2 * XmpPacket::MAX_PACKAGE_SIZE;
const unsigned int HEARTBEAT_BLOCK = 8052;
const int NODES_PER_BLOCK = 64;
const unsigned char HEARTBEAT_FRAME[6] = {0, 2, 0, 0, 5, 0};
const unsigned char INTERVAL_PREFIX[6] = {0, 6, 0, 0, 7, 4};

bool would_block(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// The packet's content_length, read from its wire header at packet.
unsigned int packet_content(const char* packet) {
    return Base::load_be16(packet + 14);
}

}  // namespace

XeloClientChannel::XeloClientChannel(Parallel::FdReactor* reactor, ClientSession* session,
                                     Parallel::Reporter* reporter, int factor)
    : FlowChannel(reactor, reporter),
      session_(session),
      factor_(clamp_factor(factor)),
      socket_(),
      pub_map_(subject_hash_func, subject_equal_func, BUCKETS, 0, 0, NODES_PER_BLOCK, 1, nullptr),
      pub_list_(true, 0),
      sub_map_(subject_hash_func, subject_equal_func, BUCKETS, 0, 0, NODES_PER_BLOCK, 1, nullptr),
      sub_list_(true, 0),
      recv_buffer_(nullptr),
      recv_size_(2 * XmpPacket::MAX_PACKAGE_SIZE * factor_),
      read_pos_(0),
      buffered_(0),
      free_(recv_size_),
      expand_buffer_(nullptr),
      decrypt_buffer_(nullptr),
      send_buffer_(nullptr),
      pending_(0),
      batch_buffer_(nullptr),
      batch_limit_(static_cast<unsigned short>(XeloPacket::MAX_PACKAGE_SIZE * factor_)),
      compress_(false),
      heartbeat_timeout_(60),
      last_heartbeat_(0),
      last_send_(0),
      last_receive_(0),
      heartbeat_flow_(nullptr),
      notify_(nullptr) {
    recv_buffer_ = new char[recv_size_];
    expand_buffer_ = new char[recv_size_];
    decrypt_buffer_ = new char[DECRYPT_SIZE];
    send_buffer_ = new char[recv_size_];
    batch_buffer_ = new char[batch_limit_];
    heartbeat_flow_ = new XeloFlow(HEARTBEAT_SUBJECT, HEARTBEAT_BLOCK, HEARTBEAT_BLOCK, nullptr,
                                   nullptr, 0, nullptr, true, false);
    notify_ = new Parallel::FdNotify(reactor, this);
    last_receive_ = clock();
}

XeloClientChannel::~XeloClientChannel() {
    close(0);
    delete heartbeat_flow_;
    delete notify_;
    delete[] recv_buffer_;
    delete[] expand_buffer_;
    delete[] decrypt_buffer_;
    delete[] send_buffer_;
    delete[] batch_buffer_;
}

int XeloClientChannel::clamp_factor(int factor) {
    if (factor < 1) return 1;
    return factor > MAX_FACTOR ? MAX_FACTOR : factor;
}

unsigned int XeloClientChannel::timeout_from_interval(unsigned int interval) {
    if (interval == 0) return 4;
    return 3 * (interval < 60 ? interval : 60) + 1;
}

unsigned int XeloClientChannel::interval_from_timeout(unsigned int timeout) {
    return timeout == 0 ? 0 : (timeout - 1) / 3;
}

bool XeloClientChannel::heartbeat_due(unsigned long now, unsigned long last_sent,
                                      unsigned int timeout) {
    const unsigned long seconds =
        now > last_sent ? (now - last_sent) / Base::Measure::TICKS_PER_SECOND : 0;
    return seconds >= interval_from_timeout(timeout);
}

unsigned long XeloClientChannel::clock() const {
    Parallel::FdReactor* reactor = get_reactor();
    unsigned long now = reactor != nullptr ? reactor->get_loop_time() : 0;
    // A reactor that has not run a pass yet has no loop time.
    return now != 0 ? now : Base::Measure::get_clock();
}

unsigned long XeloClientChannel::get_idle_timeout() const {
    unsigned long now = clock();
    return now > last_receive_ ? now - last_receive_ : 0;
}

Base::DataFlow* XeloClientChannel::get_heartbeat_flow() const {
    return heartbeat_flow_;
}

void XeloClientChannel::log_bytes(unsigned short kind, const char* data, int length) {
    if (get_log() == nullptr) return;
    // write_log takes a 16-bit length; large factors send more at once.
    do {
        int n = length > LOG_MAX_DATA ? LOG_MAX_DATA : length;
        write_log(kind, static_cast<unsigned short>(n), data);
        data += n;
        length -= n;
    } while (length > 0);
}

// ---- connection ----

bool XeloClientChannel::connect(const char* host, int port, int timeout) {
    // One connection at a time: a second connect would leak the first.
    if (is_valid()) return false;
    Parallel::Reporter* reporter = get_reporter();
    if (!socket_.open() || !socket_.connect(host, port, timeout)) {
        if (reporter != nullptr)
            reporter->report(5, "XeloClientChannel", "connect error! [%s] [%d]", host, port);
        socket_.close();
        return false;
    }
    if (reporter != nullptr)
        reporter->report(5, "XeloClientChannel", "connect ok! [%s] [%d]", host, port);
    return open_connected();
}

bool XeloClientChannel::create(int fd) {
    if (fd <= 0 || is_valid()) return false;
    socket_.open(fd);
    return open_connected();
}

bool XeloClientChannel::open_connected() {
    socket_.set_blocking(false);
    // Not in the reactor yet: the flag alone; add_fd registers reading.
    set_read_blocked(false);
    heartbeat_flow_->clear(0);
    reset_buffers();
    Base::DataReader* reader = new Base::DataReader(heartbeat_flow_, notify_, nullptr, nullptr, 0,
                                                    nullptr, 0, nullptr, nullptr);
    publish(heartbeat_flow_, nullptr, nullptr, reader, nullptr, nullptr);
    // The owner publishes its flows here, before the first read or write.
    if (session_ != nullptr) session_->on_connected();
    // The session may have closed it again.
    if (!is_valid()) return false;
    if (get_reactor() != nullptr) get_reactor()->add_fd(this);
    const char* peer = socket_.get_remote_address();
    write_log(LOG_CONNECTED, static_cast<unsigned short>(strlen(peer) + 1), peer);
    return true;
}

void XeloClientChannel::reset_buffers() {
    read_pos_ = 0;
    buffered_ = 0;
    free_ = recv_size_;
    pending_ = 0;
}

bool XeloClientChannel::listen(const char* host, int port) {
    (void)host;
    (void)port;
    return false;
}

int XeloClientChannel::close(int reason) {
    // A flow's write callback may close the channel while read() still walks
    // its tables: the close waits until read() is done with them.
    if (reading_) {
        if (!close_deferred_) deferred_reason_ = reason;
        close_deferred_ = true;
        return reason;
    }
    close_deferred_ = false;
    if (is_valid()) {
        write_log(LOG_CLOSED);
        // A reactor whose loop has ended (it is destroying its remaining
        // descriptors, this one included) has already unlinked it and could
        // never answer the removal.
        Parallel::FdReactor* reactor = get_reactor();
        if (reactor != nullptr && reactor->is_running()) reactor->remove_fd(this);
        socket_.close();
        if (session_ != nullptr) session_->on_disconnected(reason);
    }
    clear_tables();
    return reason;
}

void XeloClientChannel::clear_tables() {
    while (PubItem* item = static_cast<PubItem*>(pub_list_.pop_front())) {
        delete item->reader;
        delete item;
    }
    while (SubItem* item = static_cast<SubItem*>(sub_list_.pop_front())) delete item;
    pub_map_.clear();
    sub_map_.clear();
    last_sub_item_ = nullptr;
}

// ---- tables ----

void XeloClientChannel::publish(Base::DataFlow* flow, Base::DataFlow::AckCallback* ack,
                                Base::DataFlow::ReadCallback* callback, Base::DataReader* reader,
                                Parallel::FlowRecycler* recycler, unsigned int* counter) {
    if (flow == nullptr) return;
    void* key = subject_key(flow->get_subject());
    PubItem* item = static_cast<PubItem*>(pub_map_.search(key));
    if (item == nullptr) {
        item = new PubItem();
        pub_map_.insert(key, item);
        pub_list_.push_back(item);
    } else if (item->reader != reader) {
        delete item->reader;
    }
    // Published flows other than the heartbeat flow are protocol flows.
    if (reader == nullptr)
        reader = new XeloFlow::DataReader(static_cast<XeloFlow*>(flow), notify_, callback, recycler,
                                          Parallel::Reporter::get_log(get_reporter()));
    *item = PubItem{flow, ack, callback, reader, recycler, counter};
    notify_->wakeup(true);
}

void XeloClientChannel::subscribe(Base::DataFlow* flow, Filter filter, unsigned long limit,
                                  bool no_sequence_check) {
    if (flow == nullptr) return;
    void* key = subject_key(flow->get_subject());
    SubItem* item = static_cast<SubItem*>(sub_map_.search(key));
    if (item == nullptr) {
        item = new SubItem();
        sub_map_.insert(key, item);
        sub_list_.push_back(item);
    }
    *item = SubItem{flow, filter, 0, limit, false, no_sequence_check, false, nullptr};
}

void XeloClientChannel::cancel_publish(Base::DataFlow* flow) {
    if (flow == nullptr) return;
    PubItem* item = get_pub_item(flow->get_subject());
    if (item != nullptr) item->flow = nullptr;
}

void XeloClientChannel::cancel_subscribe(Base::DataFlow* flow) {
    if (flow == nullptr) return;
    SubItem* item = get_sub_item(flow->get_subject());
    if (item != nullptr) item->flow = nullptr;
}

FlowChannel::PubItem* XeloClientChannel::get_pub_item(unsigned short subject) const {
    return static_cast<PubItem*>(pub_map_.search(subject_key(subject)));
}

FlowChannel::SubItem* XeloClientChannel::get_sub_item(unsigned short subject) const {
    if (last_sub_item_ != nullptr && subject == last_subject_) return last_sub_item_;
    SubItem* item = static_cast<SubItem*>(sub_map_.search(subject_key(subject)));
    if (item != nullptr) {
        last_subject_ = subject;
        last_sub_item_ = item;
    }
    return item;
}

bool XeloClientChannel::available() {
    return pending_ > 0 || FlowChannel::available(&pub_list_);
}

void XeloClientChannel::get_id(int& read_fd, int& write_fd) const {
    const int fd = socket_.get_fd();
    read_fd = is_read_blocked() ? 0 : fd;
    // Readers advance their flow position while testing; the channel is
    // unchanged.
    write_fd = const_cast<XeloClientChannel*>(this)->available() ? fd : 0;
}

void XeloClientChannel::set_read_blocking(bool blocking) {
    if (blocking == is_read_blocked()) return;
    set_read_blocked(blocking);
    if (get_reactor() != nullptr) get_reactor()->set_blocking(this, true);
}

// ---- reading ----

int XeloClientChannel::read() {
    if (!is_valid()) return 0;
    ReadState state = {clock(), false, false, nullptr};
    reading_ = true;
    for (int round = 0; round < ROUNDS; ++round) {
        char* at = recv_buffer_ + read_pos_ + buffered_;
        const int n = static_cast<int>(::recv(socket_.get_fd(), at, free_, 0));
        if (n == 0) {
            write_log(LOG_PEER_CLOSED_RECV);
            return close_read(state, CLOSE_PEER);
        }
        if (n < 0) {
            if (would_block(errno)) break;
            write_log(LOG_RECEIVE_FAILED);
            return close_read(state, CLOSE_PROTOCOL);
        }
        log_bytes(LOG_RECEIVED, at, n);
        state.received = true;
        buffered_ += n;
        free_ -= n;
        const int result = parse(state);
        if (close_deferred_) return close_read(state, deferred_reason_);
        if (result < 0) return close_read(state, result);
        if (buffered_ == 0) {
            read_pos_ = 0;
            free_ = recv_size_;
        } else if (free_ == 0) {
            // A frame is at most 8194 bytes, so a full buffer always held a
            // whole one: what is left here is shorter than the buffer.
            memmove(recv_buffer_, recv_buffer_ + read_pos_, buffered_);
            read_pos_ = 0;
            free_ = recv_size_ - buffered_;
        }
    }
    finish_read(state);
    return 0;
}

int XeloClientChannel::close_read(ReadState& state, int reason) {
    // Frames stored before the fault stay in their flows: wake their readers.
    finish_read(state);
    return close(reason);
}

void XeloClientChannel::finish_read(ReadState& state) {
    reading_ = false;
    for (SubItem* item = state.touched; item != nullptr;) {
        SubItem* next = item->next_touched;
        item->touched = false;
        item->next_touched = nullptr;
        if (item->flow != nullptr) item->flow->notify();
        item = next;
    }
    state.touched = nullptr;
    if (state.received) last_receive_ = state.now;
}

int XeloClientChannel::parse(ReadState& state) {
    // A frame is examined only once 6 bytes are there, even a 4-byte one.
    while (buffered_ >= MIN_FRAME) {
        char* frame = recv_buffer_ + read_pos_;
        const unsigned char type = static_cast<unsigned char>(frame[0]);
        const unsigned char ext = static_cast<unsigned char>(frame[1]);
        const int content = Base::load_be16(frame + 2);
        int size;
        if (content != 0) {
            if (type != XmpPacket::TYPE_DATA) return CLOSE_PROTOCOL;
            size = content + HEADER;
            if (size < MIN_FRAME || size > MAX_FRAME) return CLOSE_LENGTH;
            if (size > buffered_) break;
        } else {
            if (type != XmpPacket::TYPE_CONTROL || ext == 1 || ext > 127) return CLOSE_PROTOCOL;
            size = HEADER + ext;
            if (size > buffered_) break;
        }
        // Consumed before it is looked into, as a dropped packet stays consumed.
        read_pos_ += size;
        buffered_ -= size;
        if (content == 0) {
            parse_control(frame, size);
            continue;
        }
        const int result = parse_data(state, frame, size);
        if (result < 0 || close_deferred_) return result;
    }
    return 0;
}

void XeloClientChannel::parse_control(const char* frame, int size) {
    // The interval entry: tag 7, length 4, seconds big-endian.
    if (size == HEADER + 6 && frame[4] == 7 && frame[5] == 4)
        heartbeat_timeout_ = timeout_from_interval(Base::load_be32(frame + 6));
}

int XeloClientChannel::parse_data(ReadState& state, char* frame, int size) {
    const int content = size - HEADER;
    if (get_cipher_type() != CIPHER_NONE) {
        memcpy(decrypt_buffer_, frame, HEADER);
        unsigned char* out = reinterpret_cast<unsigned char*>(decrypt_buffer_ + HEADER);
        if (!decode(out, reinterpret_cast<const unsigned char*>(frame + HEADER), content))
            return CLOSE_DECRYPT;
        frame = decrypt_buffer_;
    }
    if (static_cast<unsigned char>(frame[4]) != CrpPacket::VERSION) return CLOSE_PROTOCOL;
    const unsigned char method = static_cast<unsigned char>(frame[5]);
    if (method == CrpPacket::METHOD_ZERO) {
        int expanded = CODEC_CAPACITY;
        int r = CrpPacket::decode_zero(
            reinterpret_cast<unsigned char*>(expand_buffer_ + PREFIX), expanded,
            reinterpret_cast<const unsigned char*>(frame + PREFIX), size - PREFIX);
        // Any refusal (overflow, a dangling escape) is a failed expansion.
        if (r != 0 || expanded < PACKET_HEADER) return CLOSE_LENGTH;
        if (expanded != static_cast<int>(packet_content(expand_buffer_ + PREFIX)) + PACKET_HEADER)
            return CLOSE_LENGTH;
        XeloFlow::write_prefix(expand_buffer_, static_cast<unsigned int>(expanded));
        return route(state, expand_buffer_, static_cast<unsigned short>(expanded + PREFIX));
    }
    if (method != CrpPacket::METHOD_PLAIN) return CLOSE_PROTOCOL;
    if (size < PREFIX + PACKET_HEADER ||
        content != static_cast<int>(packet_content(frame + PREFIX)) + PACKET_HEADER + 2)
        return CLOSE_LENGTH;
    return route(state, frame, static_cast<unsigned short>(size));
}

int XeloClientChannel::route(ReadState& state, char* frame, unsigned short length) {
    const char* packet = frame + PREFIX;
    const unsigned short subject = Base::load_be16(packet + 2);
    const unsigned long sequence =
        Base::load_be32(packet + 8) |
        static_cast<unsigned long>(static_cast<unsigned char>(packet[12])) << 32;
    bool check = subject != 1;
    SubItem* item = get_sub_item(subject);
    if (item == nullptr && (subject == 0 || subject == 4)) {
        // Init and announcement packets without a flow of their own go with
        // the responses, whose numbering they do not follow.
        item = get_sub_item(1);
        check = false;
    } else if ((item == nullptr || item->flow == nullptr) && subject == 5) {
        item = get_sub_item(2);
    }
    if (item == nullptr || item->flow == nullptr) return CLOSE_SUBJECT;
    if (item->blocked) return 0;
    if (check && !item->no_sequence_check && sequence != item->flow->get_count() + 1)
        return CLOSE_SEQUENCE;
    if (item->filter != nullptr && !item->filter(item->flow, frame, length)) return CLOSE_FILTER;
    void* object = item->flow->alloc_object(length);
    memcpy(object, frame, length);
    item->flow->commit_object(length, false);
    state.stored = true;
    item->last_data_time = state.now;
    if (!item->touched) {
        item->touched = true;
        item->next_touched = state.touched;
        state.touched = item;
    }
    return 0;
}

// ---- writing ----

int XeloClientChannel::write() {
    if (!is_valid()) return WRITE_IDLE;
    if (pending_ == 0 && !FlowChannel::available(&pub_list_)) return WRITE_IDLE;
    if (pending_ > 0) {
        const int r = write(send_buffer_, pending_);
        if (r != 0 || pending_ > 0) return r;
    }
    for (Base::List::Node* n = pub_list_.get_first(); n != nullptr; n = n->next) {
        PubItem* item = static_cast<PubItem*>(n->data);
        if (item->flow == nullptr || item->reader == nullptr || !item->reader->available())
            continue;
        // An error may have closed the channel and emptied the list: leave.
        const int r = write(item->reader, item->counter);
        if (r != 0) return r;
        if (pending_ > 0) break;
    }
    return WRITE_PROGRESS;
}

int XeloClientChannel::fetch(Base::DataReader* reader, const char*& batch, unsigned short& length) {
    length = batch_limit_;
    if (reader->get_flow()->has_references())
        batch = prepare_reader_buffer(reader, length, batch_buffer_);
    else
        batch = reader->read(length);
    return batch != nullptr && length > 0;
}

int XeloClientChannel::write(Base::DataReader* reader, unsigned int* counter) {
    const bool heartbeat = reader->get_flow() == heartbeat_flow_;
    const bool compress = compress_ && !heartbeat;
    const bool encrypt = get_cipher_type() != CIPHER_NONE && !heartbeat;
    for (int round = 0; round < ROUNDS; ++round) {
        const char* batch;
        unsigned short length;
        if (!fetch(reader, batch, length)) {
            if (counter != nullptr && reader->is_reading_file() && reader->available()) ++*counter;
            return WRITE_PROGRESS;
        }
        const char* data = batch;
        int size = length;
        if (compress) {
            char* staging = encrypt ? expand_buffer_ : send_buffer_;
            const int r = compress_batch(batch, length, staging, size);
            if (r != 0) return close(r);
            data = staging;
            if (!encrypt) pending_ = size;
        }
        if (encrypt) {
            const int r = encrypt_batch(data, size);
            if (r != 0) return close(r);
            data = send_buffer_;
            pending_ = size;
        }
        const int r = write(data, size);
        if (r != 0) return r;
        if (pending_ > 0) return WRITE_PROGRESS;
    }
    return WRITE_PROGRESS;
}

int XeloClientChannel::compress_batch(const char* batch, int length, char* out, int& staged) {
    staged = 0;
    for (int pos = 0; pos < length;) {
        const char* frame = batch + pos;
        if (length - pos < HEADER) return CLOSE_LENGTH;
        const int content = Base::load_be16(frame + 2);
        const int size = content + HEADER;
        if (content < 3 || size > length - pos) return CLOSE_LENGTH;
        // The codec scratch is the decryption buffer: reading and writing
        // never overlap on the reactor thread.
        int packed = CODEC_CAPACITY;
        unsigned char* scratch = reinterpret_cast<unsigned char*>(decrypt_buffer_);
        if (CrpPacket::encode_zero(scratch, packed,
                                   reinterpret_cast<const unsigned char*>(frame + PREFIX),
                                   size - PREFIX) != 0)
            return CLOSE_LENGTH;
        char* to = out + staged;
        if (packed < size - PREFIX) {
            to[0] = frame[0];
            to[1] = frame[1];
            Base::store_be16(to + 2, static_cast<unsigned short>(packed + 2));
            to[4] = frame[4];
            to[5] = CrpPacket::METHOD_ZERO;
            memcpy(to + PREFIX, scratch, packed);
            staged += packed + PREFIX;
        } else {
            memcpy(to, frame, size);
            staged += size;
        }
        pos += size;
    }
    return 0;
}

int XeloClientChannel::encrypt_batch(const char* batch, int length) {
    for (int pos = 0; pos < length;) {
        if (length - pos < HEADER) return CLOSE_ENCRYPT;
        const int content = Base::load_be16(batch + pos + 2);
        if (content == 0 || content > length - pos - HEADER) return CLOSE_ENCRYPT;
        memcpy(send_buffer_ + pos, batch + pos, HEADER);
        unsigned char* out = reinterpret_cast<unsigned char*>(send_buffer_ + pos + HEADER);
        if (!encode(out, reinterpret_cast<const unsigned char*>(batch + pos + HEADER), content))
            return CLOSE_ENCRYPT;
        pos += HEADER + content;
    }
    return 0;
}

int XeloClientChannel::write(const char* data, int length) {
    const int n = static_cast<int>(::send(socket_.get_fd(), data, length, MSG_NOSIGNAL));
    if (n > 0) {
        log_bytes(LOG_SENT, data, n);
        if (pending_ > 0) {
            // data is the send buffer: keep its unsent tail at the front.
            pending_ -= n;
            memmove(send_buffer_, send_buffer_ + n, pending_);
        } else if (n < length) {
            memcpy(send_buffer_, data + n, length - n);
            pending_ = length - n;
        }
        last_send_ = clock();
        return WRITE_PROGRESS;
    }
    if (n == 0) {
        write_log(LOG_PEER_CLOSED_SEND);
        return close(CLOSE_PEER);
    }
    if (would_block(errno)) {
        if (pending_ == 0) {
            if (data != send_buffer_) memcpy(send_buffer_, data, length);
            pending_ = length;
        }
        return WRITE_BLOCKED;
    }
    write_log(LOG_SEND_FAILED);
    return close(CLOSE_SEND);
}

// ---- heartbeats ----

void XeloClientChannel::append_heartbeat_frame(const unsigned char* frame, unsigned short length) {
    void* object = heartbeat_flow_->alloc_object(length);
    memcpy(object, frame, length);
    heartbeat_flow_->commit_object(length, true);
}

void XeloClientChannel::send_heartbeat() {
    const unsigned long now = clock();
    if (!heartbeat_due(now, last_heartbeat_, heartbeat_timeout_)) return;
    append_heartbeat_frame(HEARTBEAT_FRAME, sizeof HEARTBEAT_FRAME);
    last_heartbeat_ = now;
}

void XeloClientChannel::set_heartbeat_timeout(unsigned int seconds) {
    heartbeat_timeout_ = seconds;
    unsigned char frame[sizeof INTERVAL_PREFIX + 4];
    memcpy(frame, INTERVAL_PREFIX, sizeof INTERVAL_PREFIX);
    Base::store_be32(frame + sizeof INTERVAL_PREFIX, interval_from_timeout(seconds));
    append_heartbeat_frame(frame, sizeof frame);
}

}  // namespace Network
