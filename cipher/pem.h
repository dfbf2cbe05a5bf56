#ifndef XELMD_CIPHER_PEM_H
#define XELMD_CIPHER_PEM_H

namespace Cipher {

// Readers for PEM texts and the DER structures inside them: RSA public and
// private keys, X.509 certificates, object identifiers. Malformed input gives
// false; nothing is read outside the given text or DER bytes. Output buffers
// must be large enough: a null output pointer gives the length only, so a
// caller can size them first. Stateless; any thread.
class Pem {
  public:
    enum AlgorithmId { ALG_UNKNOWN = 0, ALG_RSA_ENCRYPTION = 1, ALG_SHA256_WITH_RSA = 2 };

    // The fields of a certificate: value bytes of the serial number, the
    // validity times as written ("YYMMDDHHMMSSZ" or "YYYYMMDDHHMMSSZ"), issuer
    // and subject as "/C=../O=../CN=.." texts, and the RSA key's n and e.
    struct Certificate {
        char serial[64];
        int serial_len;
        char not_before[32];
        char not_after[32];
        char issuer[1024];
        char subject[1024];
        char n[1040];
        int n_len;
        char e[64];
        int e_len;
    };

    // The DER bytes of the block "-----BEGIN <label>-----". out needs room for
    // strlen(text) * 3 / 4 bytes. Encrypted blocks need a password.
    static bool parse_pem(const char* text, const char* label, char* out, int& out_len,
                          const char* password);

    // From "RSA PUBLIC KEY" (PKCS #1) or "PUBLIC KEY" (SubjectPublicKeyInfo)
    // text, or from either DER form: the value bytes of the two INTEGERs.
    static bool parse_rsa_public_key(const char* text, char* n, int& n_len, char* e, int& e_len);
    static bool parse_rsa_public_key(const char* der, int der_len, char* n, int& n_len, char* e,
                                     int& e_len);

    // From "RSA PRIVATE KEY" (PKCS #1, possibly encrypted) or unencrypted
    // "PRIVATE KEY" (PKCS #8) text, or from either DER form.
    static bool parse_rsa_private_key(const char* text, char* n, int& n_len, char* d, int& d_len,
                                      const char* password);
    static bool parse_rsa_private_key(const char* der, int der_len, char* n, int& n_len, char* d,
                                      int& d_len);

    // From "CERTIFICATE" text or from DER; the key must be an RSA key.
    static bool parse_certificate(const char* text, Certificate& cert);
    static bool parse_certificate(const char* der, int der_len, Certificate& cert);

    // Dotted text of an OID's value bytes, NUL-terminated; text needs room for
    // 4 * len + 8 characters. Returns the text length, or -1 when malformed.
    static int parse_oid(const char* der, int len, char* text);
    static int get_algorithm_id(const char* oid_text);
};

}  // namespace Cipher

#endif  // XELMD_CIPHER_PEM_H
