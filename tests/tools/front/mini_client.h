// A small client written from the protocol rules, independent of the
// library's client: it exchanges keys, logs in and records what it gets.
#ifndef XELMD_TESTS_TOOLS_FRONT_MINI_CLIENT_H
#define XELMD_TESTS_TOOLS_FRONT_MINI_CLIENT_H

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/hash.h"
#include "base/hex.h"
#include "cipher/sm2.h"
#include "cipher/sm3.h"
#include "field/xelfield.h"
#include "network/xelo_client_channel.h"
#include "network/xelo_flow.h"

namespace Mini {

using Network::XeloClientChannel;
using Network::XeloFlow;
using Network::XeloPacket;

const unsigned int MIB = 1 << 20;

struct Received {
    unsigned int tid;
    unsigned int request_id;
    int error_id;
    std::vector<Field::XelDisseminationField> topics;
    std::string session_text;
    int challenge;
};

// The client: an init flow it writes, a response flow and topic flows it
// receives; topic flows are made when announced, at the announced position.
struct MiniClient : Base::DataFlow::WriteCallback {
    XeloFlow init{0, MIB, MIB, nullptr, nullptr, 0, nullptr, false, false};
    XeloFlow::Writer writer{&init, false};
    XeloFlow responses{1, MIB, MIB, nullptr, this, 0, nullptr, false, false};
    std::map<int, std::unique_ptr<XeloFlow>> topics;
    std::map<int, std::vector<unsigned long>> topic_sequences;
    std::vector<Received> got;
    Cipher::Sm2 sm2{true};
    char key_text[301] = {0};
    int last_read = 0;
    // Last, so that it closes (deleting its readers) before the flows go.
    XeloClientChannel channel{nullptr, nullptr, nullptr, 1};

    virtual ~MiniClient() = default;

    void start(int fd) {
        ASSERT_TRUE(channel.create(fd));
        channel.publish(&init, nullptr, nullptr, nullptr, nullptr, nullptr);
        channel.subscribe(&responses, nullptr, 0, false);
    }

    void on_write(unsigned long, const void* data, unsigned short length) override {
        XeloPacket::Header h;
        const char* fields = XeloFlow::decode(static_cast<const char*>(data), length, &h);
        ASSERT_NE(fields, nullptr);
        if (h.sequence_series != 1) {
            topic_sequences[h.sequence_series].push_back(XeloPacket::get_sequence(&h));
            return;
        }
        XeloPacket::Iterator it(&h, fields);
        Received r = {h.tid, h.request_id, -1, {}, "", 0};
        for (int id = it.next(); id >= 0; id = it.next()) {
            if (id == 0x0003) {
                Field::XelRspInfoField info;
                it.get_field(&info, &Field::XelRspInfoField::from_stream, false);
                r.error_id = info.ErrorID;
            } else if (id == 0x0001) {
                Field::XelDisseminationField d;
                it.get_field(&d, &Field::XelDisseminationField::from_stream, false);
                r.topics.push_back(d);
            } else if (id == 0x8017) {
                Field::XelUserapiSessionAuthInfoField s;
                it.get_field(&s, &Field::XelUserapiSessionAuthInfoField::from_stream, false);
                r.session_text = s.EncryptUserApiInfo;
            } else if (id == 0x800A) {
                Field::XelUserapiInitAuthInfoField v;
                it.get_field(&v, &Field::XelUserapiInitAuthInfoField::from_stream, false);
                r.challenge = v.InitEncryptInfo;
            }
        }
        if (h.tid == 0x5901) {
            for (const auto& d : r.topics) {
                auto flow = std::make_unique<XeloFlow>(d.SequenceSeries, MIB, MIB, nullptr, this,
                                                       d.SequenceNo, nullptr, false, false);
                channel.subscribe(flow.get(), nullptr, 0, false);
                topics[d.SequenceSeries] = std::move(flow);
            }
        }
        got.push_back(r);
    }

    void send_key_exchange() {
        char x[65], y[65];
        sm2.gen_keys();
        sm2.get_public_key(x, y);
        snprintf(key_text, sizeof key_text, "%02X%s%02X%s", (int)strlen(x), x, (int)strlen(y), y);
        XeloPacket* p = writer.alloc_packet(0x6091, 0);
        Field::XelUserapiInitAuthInfoField v = {25081835};
        p->add_field(&v.DESC, &v, &Field::XelUserapiInitAuthInfoField::to_stream);
        Field::XelUserapiSessionAuthInfoField s;
        memset(&s, 0, sizeof s);
        strcpy(s.EncryptUserApiInfo, key_text);
        p->add_field(&s.DESC, &s, &Field::XelUserapiSessionAuthInfoField::to_stream);
        writer.commit_packet(true);
    }

    // The reply's text to a cipher: "0"; 'A'+type and 16 digits of the key
    // XOR the mask; '0'+type and an SM2 ciphertext. False for anything else.
    bool apply_key(const std::string& text) {
        if (text == "0") return true;
        unsigned char c = static_cast<unsigned char>(text[0]);
        unsigned char bytes[128];
        unsigned long key = 0;
        if (c >= 'A' && (text.size() - 1) / 2 == 8) {
            Base::hex_to_bytes(text.c_str() + 1, reinterpret_cast<char*>(bytes), 8);
            for (int i = 7; i >= 0; --i) key = key << 8 | bytes[i];
            Cipher::Sm3 sm3;
            sm3.update(key_text, 132);
            sm3.final();
            const unsigned char* d = sm3.digest;
            auto le32 = [](const unsigned char* p) {
                return static_cast<unsigned int>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
            };
            unsigned long h1 = Base::Hash::calc(d, 16, le32(d + 16));
            unsigned long h2 = Base::Hash::calc(d + 16, 16, le32(d));
            key ^= h1 << 32 | h2;
            channel.set_cipher(static_cast<unsigned char>(c - 'A'), key);
            return true;
        }
        if (c < '0') return false;
        int n = static_cast<int>(text.size() - 1) / 2;
        Base::hex_to_bytes(text.c_str() + 1, reinterpret_cast<char*>(bytes), n);
        unsigned char plain[128];
        int plain_len = 0;
        if (!sm2.decode(nullptr, plain_len, bytes, n) || plain_len != 8 ||
            !sm2.decode(plain, plain_len, bytes, n))
            return false;
        for (int i = 7; i >= 0; --i) key = key << 8 | plain[i];
        channel.set_cipher(static_cast<unsigned char>(c - '0'), key);
        return true;
    }

    void send_login(const char* user, const char* password, long from, const char* terminal,
                    int topic = 100) {
        XeloPacket* p = writer.alloc_packet(0x1001, 0);
        p->header.request_id = 5;
        Field::XelReqUserLoginField r;
        memset(&r, 0, sizeof r);
        strcpy(r.UserID, user);
        strcpy(r.Password, password);
        strcpy(r.UserProductInfo, "test");
        p->add_field(&r.DESC, &r, &Field::XelReqUserLoginField::to_stream);
        Field::XelDisseminationField d = {static_cast<short>(topic), static_cast<int>(from)};
        p->add_field(&d.DESC, &d, &Field::XelDisseminationField::to_stream);
        if (terminal != nullptr) {
            Field::XelUserapiAuthenticInfoField a;
            memset(&a, 0, sizeof a);
            strcpy(a.EncryptUserApiInfo, terminal);
            p->add_field(&a.DESC, &a, &Field::XelUserapiAuthenticInfoField::to_stream);
        }
        writer.commit_packet(true);
    }

    void send(unsigned short tid, const void* record, const Base::FieldDesc* desc,
              XeloPacket::ToStream to_stream, unsigned int request_id) {
        XeloPacket* p = writer.alloc_packet(tid, 0);
        p->header.request_id = request_id;
        p->add_field(desc, record, to_stream);
        writer.commit_packet(true);
    }

    const Received* find(unsigned int tid) const {
        for (const auto& r : got)
            if (r.tid == tid) return &r;
        return nullptr;
    }
};

}  // namespace Mini

#endif  // XELMD_TESTS_TOOLS_FRONT_MINI_CLIENT_H
