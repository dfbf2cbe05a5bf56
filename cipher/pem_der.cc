// The DER structures behind Pem: RSA keys, certificates and OIDs.
#include <cstdio>
#include <cstring>
#include <vector>

#include "cipher/der.h"
#include "cipher/pem.h"

namespace Cipher {

namespace {

const char kRsaEncryption[] = "1.2.840.113549.1.1.1";
const char kSha256WithRsa[] = "1.2.840.113549.1.1.11";

const Der::Element* take(Der::Iterator& it, uint32_t tag) {
    const Der::Element* e = it.next();
    return e != nullptr && e->tag == tag ? e : nullptr;
}

// The next element must have tag; inner then walks its contents.
bool enter(Der::Iterator& it, uint32_t tag, Der::Iterator& inner) {
    const Der::Element* e = take(it, tag);
    if (e == nullptr) return false;
    inner.attach(e->value, static_cast<int>(e->length));
    return true;
}

bool put(const Der::Element* e, char* out, int& out_len) {
    if (e == nullptr) return false;
    if (out != nullptr && e->length > 0) std::memcpy(out, e->value, e->length);
    out_len = static_cast<int>(e->length);
    return true;
}

// AlgorithmIdentifier: SEQUENCE { OID, parameters }; the algorithm's id.
int algorithm(Der::Iterator& it) {
    Der::Iterator alg;
    if (!enter(it, Der::TAG_SEQUENCE, alg)) return -1;
    const Der::Element* oid = take(alg, Der::TAG_OID);
    if (oid == nullptr) return -1;
    std::vector<char> text(4 * oid->length + 8);
    if (Pem::parse_oid(reinterpret_cast<const char*>(oid->value), static_cast<int>(oid->length),
                       text.data()) < 0)
        return -1;
    return Pem::get_algorithm_id(text.data());
}

// RSAPublicKey: SEQUENCE { n INTEGER, e INTEGER }.
bool pkcs1_public(const unsigned char* der, int len, char* n, int& n_len, char* e, int& e_len) {
    Der::Iterator top(der, len), seq;
    if (!enter(top, Der::TAG_SEQUENCE, seq)) return false;
    return put(take(seq, Der::TAG_INTEGER), n, n_len) && put(take(seq, Der::TAG_INTEGER), e, e_len);
}

// SubjectPublicKeyInfo: SEQUENCE { AlgorithmIdentifier, BIT STRING { RSAPublicKey } }.
bool spki_public(Der::Iterator& seq, char* n, int& n_len, char* e, int& e_len) {
    if (algorithm(seq) != Pem::ALG_RSA_ENCRYPTION) return false;
    const Der::Element* bits = take(seq, Der::TAG_BIT_STRING);
    if (bits == nullptr || bits->length < 1 || bits->value[0] != 0) return false;
    return pkcs1_public(bits->value + 1, static_cast<int>(bits->length - 1), n, n_len, e, e_len);
}

// RSAPrivateKey: SEQUENCE { version, n, e, d, p, q, dp, dq, qinv }.
bool pkcs1_private(const unsigned char* der, int len, char* n, int& n_len, char* d, int& d_len) {
    Der::Iterator top(der, len), seq;
    if (!enter(top, Der::TAG_SEQUENCE, seq) || take(seq, Der::TAG_INTEGER) == nullptr) return false;
    // Elements point into the iterator, so n is copied out before moving on.
    if (!put(take(seq, Der::TAG_INTEGER), n, n_len)) return false;
    if (take(seq, Der::TAG_INTEGER) == nullptr) return false;
    return put(take(seq, Der::TAG_INTEGER), d, d_len);
}

// Name: SEQUENCE OF SET OF SEQUENCE { OID, string }, as "/key=value..."; keys
// without a short name are written as dotted OIDs.
bool name_text(Der::Iterator& it, char* out, size_t room) {
    static const struct {
        const char* oid;
        const char* key;
    } kKeys[] = {{"2.5.4.3", "CN"},
                 {"2.5.4.6", "C"},
                 {"2.5.4.7", "L"},
                 {"2.5.4.8", "ST"},
                 {"2.5.4.10", "O"},
                 {"2.5.4.11", "OU"},
                 {"2.5.4.5", "serialNumber"},
                 {"1.2.840.113549.1.9.1", "emailAddress"}};
    Der::Iterator name, rdn, ava;
    if (!enter(it, Der::TAG_SEQUENCE, name)) return false;
    size_t used = 0;
    out[0] = '\0';
    while (!name.is_end()) {
        if (!enter(name, Der::TAG_SET, rdn)) return false;
        while (!rdn.is_end()) {
            if (!enter(rdn, Der::TAG_SEQUENCE, ava)) return false;
            // The element returned lives in the iterator: copy before moving on.
            const Der::Element* oid_at = take(ava, Der::TAG_OID);
            if (oid_at == nullptr) return false;
            const Der::Element oid_copy = *oid_at;
            const Der::Element* oid = &oid_copy;
            const Der::Element* value = ava.next();
            if (value == nullptr) return false;
            std::vector<char> dotted(4 * oid->length + 8);
            if (Pem::parse_oid(reinterpret_cast<const char*>(oid->value),
                               static_cast<int>(oid->length), dotted.data()) < 0)
                return false;
            const char* key = dotted.data();
            for (const auto& k : kKeys)
                if (std::strcmp(k.oid, dotted.data()) == 0) key = k.key;
            const size_t klen = std::strlen(key);
            if (used + klen + value->length + 3 > room) return false;
            out[used++] = '/';
            std::memcpy(out + used, key, klen);
            used += klen;
            out[used++] = '=';
            std::memcpy(out + used, value->value, value->length);
            used += value->length;
            out[used] = '\0';
        }
    }
    return true;
}

bool time_text(Der::Iterator& it, char* out, size_t room) {
    const Der::Element* t = it.next();
    if (t == nullptr || (t->tag != Der::TAG_UTC_TIME && t->tag != Der::TAG_GENERALIZED_TIME) ||
        t->length + 1 > room)
        return false;
    std::memcpy(out, t->value, t->length);
    out[t->length] = '\0';
    return true;
}

// Runs the text form: the DER of the first block found under one of labels.
template <class F>
bool with_pem(const char* text, const char* const* labels, int count, const char* password,
              F parse) {
    if (text == nullptr) return false;
    std::vector<char> der(std::strlen(text) * 3 / 4 + 4);
    for (int i = 0; i < count; ++i) {
        int len = 0;
        if (Pem::parse_pem(text, labels[i], der.data(), len, password))
            return parse(der.data(), len);
    }
    return false;
}

}  // namespace

bool Pem::parse_rsa_public_key(const char* der, int der_len, char* n, int& n_len, char* e,
                               int& e_len) {
    if (der == nullptr || der_len <= 0) return false;
    // PKCS #1 starts with an INTEGER inside the outer SEQUENCE, the
    // SubjectPublicKeyInfo with the algorithm's SEQUENCE.
    Der::Iterator top(der, der_len), seq;
    if (!enter(top, Der::TAG_SEQUENCE, seq)) return false;
    Der::Iterator probe = seq;
    const Der::Element* first = probe.next();
    if (first == nullptr) return false;
    if (first->tag == Der::TAG_INTEGER)
        return pkcs1_public(reinterpret_cast<const unsigned char*>(der), der_len, n, n_len, e,
                            e_len);
    return spki_public(seq, n, n_len, e, e_len);
}

bool Pem::parse_rsa_public_key(const char* text, char* n, int& n_len, char* e, int& e_len) {
    static const char* const labels[] = {"RSA PUBLIC KEY", "PUBLIC KEY"};
    return with_pem(text, labels, 2, nullptr, [&](const char* der, int len) {
        return parse_rsa_public_key(der, len, n, n_len, e, e_len);
    });
}

bool Pem::parse_rsa_private_key(const char* der, int der_len, char* n, int& n_len, char* d,
                                int& d_len) {
    if (der == nullptr || der_len <= 0) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(der);
    Der::Iterator top(der, der_len), seq;
    if (!enter(top, Der::TAG_SEQUENCE, seq) || take(seq, Der::TAG_INTEGER) == nullptr) return false;
    Der::Iterator probe = seq;
    const Der::Element* second = probe.next();
    if (second == nullptr) return false;
    if (second->tag == Der::TAG_INTEGER) return pkcs1_private(bytes, der_len, n, n_len, d, d_len);
    // PKCS #8: SEQUENCE { version, AlgorithmIdentifier, OCTET STRING { RSAPrivateKey } }.
    if (algorithm(seq) != ALG_RSA_ENCRYPTION) return false;
    const Der::Element* key = take(seq, Der::TAG_OCTET_STRING);
    return key != nullptr &&
           pkcs1_private(key->value, static_cast<int>(key->length), n, n_len, d, d_len);
}

bool Pem::parse_rsa_private_key(const char* text, char* n, int& n_len, char* d, int& d_len,
                                const char* password) {
    static const char* const labels[] = {"RSA PRIVATE KEY", "PRIVATE KEY"};
    return with_pem(text, labels, 2, password, [&](const char* der, int len) {
        return parse_rsa_private_key(der, len, n, n_len, d, d_len);
    });
}

bool Pem::parse_certificate(const char* der, int der_len, Certificate& cert) {
    if (der == nullptr || der_len <= 0) return false;
    // Certificate: SEQUENCE { tbsCertificate, signatureAlgorithm, signature };
    // tbsCertificate: SEQUENCE { [0] version OPTIONAL, serial, signature,
    // issuer, validity, subject, subjectPublicKeyInfo, ... }.
    Der::Iterator top(der, der_len), outer, tbs, validity, spki;
    if (!enter(top, Der::TAG_SEQUENCE, outer) || !enter(outer, Der::TAG_SEQUENCE, tbs))
        return false;
    Der::Iterator probe = tbs;
    const Der::Element* first = probe.next();
    if (first != nullptr && first->tag == 0xa0) tbs.next();
    const Der::Element* serial = take(tbs, Der::TAG_INTEGER);
    if (serial == nullptr || serial->length > sizeof cert.serial) return false;
    put(serial, cert.serial, cert.serial_len);
    if (algorithm(tbs) < 0 || !name_text(tbs, cert.issuer, sizeof cert.issuer)) return false;
    if (!enter(tbs, Der::TAG_SEQUENCE, validity) ||
        !time_text(validity, cert.not_before, sizeof cert.not_before) ||
        !time_text(validity, cert.not_after, sizeof cert.not_after))
        return false;
    if (!name_text(tbs, cert.subject, sizeof cert.subject)) return false;
    if (!enter(tbs, Der::TAG_SEQUENCE, spki)) return false;
    int n_len = 0, e_len = 0;
    Der::Iterator sizing = spki;
    if (!spki_public(sizing, nullptr, n_len, nullptr, e_len) ||
        n_len > static_cast<int>(sizeof cert.n) || e_len > static_cast<int>(sizeof cert.e))
        return false;
    return spki_public(spki, cert.n, cert.n_len, cert.e, cert.e_len);
}

bool Pem::parse_certificate(const char* text, Certificate& cert) {
    static const char* const labels[] = {"CERTIFICATE"};
    return with_pem(text, labels, 1, nullptr,
                    [&](const char* der, int len) { return parse_certificate(der, len, cert); });
}

int Pem::parse_oid(const char* der, int len, char* text) {
    if (der == nullptr || len <= 0 || text == nullptr) return -1;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der);
    const unsigned char first = p[0] < 80 ? p[0] / 40 : 2;
    const unsigned char second = static_cast<unsigned char>(p[0] - 40 * first);
    int used = std::sprintf(text, "%hhu.%hhu", first, second);
    uint32_t arc = 0;
    int arc_bytes = 0;
    for (int i = 1; i < len; ++i) {
        // A base-128 arc wider than 32 bits is refused.
        if ((arc >> 25) != 0) return -1;
        arc = (arc << 7) | (p[i] & 0x7f);
        ++arc_bytes;
        if ((p[i] & 0x80) == 0) {
            used += std::sprintf(text + used, ".%u", arc);
            arc = 0;
            arc_bytes = 0;
        }
    }
    if (arc_bytes != 0) return -1;  // the last arc was cut short
    return used;
}

int Pem::get_algorithm_id(const char* oid_text) {
    if (oid_text == nullptr) return ALG_UNKNOWN;
    if (std::strcmp(oid_text, kRsaEncryption) == 0) return ALG_RSA_ENCRYPTION;
    if (std::strcmp(oid_text, kSha256WithRsa) == 0) return ALG_SHA256_WITH_RSA;
    return ALG_UNKNOWN;
}

}  // namespace Cipher
