#include "cipher/der.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(DerIterator, WalksShortLongAndZeroLengthForms) {
    // INTEGER 5; OCTET STRING of 130 bytes with a one-byte long length;
    // NULL written with the 0x80 length byte; SEQUENCE with a two-byte length.
    Bytes der = {0x02, 0x01, 0x05, 0x04, 0x81, 0x82};
    der.insert(der.end(), 130, 0xaa);
    der.insert(der.end(), {0x05, 0x80, 0x30, 0x82, 0x01, 0x00});
    der.insert(der.end(), 256, 0xbb);
    Cipher::Der::Iterator it(der.data(), static_cast<int>(der.size()));
    const Cipher::Der::Element* e = it.next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tag, 0x02u);
    EXPECT_EQ(e->length, 1u);
    EXPECT_EQ(e->value[0], 5);
    e = it.next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->length, 130u);
    EXPECT_EQ(e->value, der.data() + 6);
    e = it.next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tag, 0x05u);
    EXPECT_EQ(e->length, 0u);
    EXPECT_FALSE(it.is_end());
    e = it.next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tag, 0x30u);
    EXPECT_EQ(e->length, 256u);
    EXPECT_TRUE(it.is_end());
    EXPECT_EQ(it.next(), nullptr);
}

// Every truncation of a valid stream, and lengths that point past the data,
// give null without reading outside the buffer (checked under AddressSanitizer:
// each case gets its own heap copy of exactly the truncated size).
TEST(DerIterator, RefusesTruncatedDataAndLengthsPastTheEnd) {
    const Bytes full = {0x30, 0x06, 0x02, 0x01, 0x07, 0x04, 0x81, 0x01};
    for (size_t cut = 0; cut < 2; ++cut) {
        Bytes part(full.begin(), full.begin() + cut);
        Cipher::Der::Iterator it(part.data(), static_cast<int>(part.size()));
        EXPECT_EQ(it.next(), nullptr) << cut;
    }
    const Bytes bad[] = {
        {0x04, 0x05, 0x01, 0x02},                          // short form past the end
        {0x04, 0x81},                                      // long form, length byte missing
        {0x04, 0x82, 0x01},                                // long form, one of two missing
        {0x04, 0x84, 0xff, 0xff, 0xff, 0xff, 0x00},        // four-byte length, huge
        {0x04, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},  // five length bytes
        {0x04, 0xff, 0x00},                                // 127 length bytes claimed
    };
    for (const Bytes& b : bad) {
        auto* copy = new unsigned char[b.size()];
        std::copy(b.begin(), b.end(), copy);
        Cipher::Der::Iterator it(copy, static_cast<int>(b.size()));
        EXPECT_EQ(it.next(), nullptr);
        EXPECT_TRUE(it.is_end());
        EXPECT_EQ(it.next(), nullptr);
        delete[] copy;
    }
}

TEST(DerIterator, AttachRestartsAndEmptyDataIsAtTheEnd) {
    const Bytes a = {0x02, 0x01, 0x01}, b = {0x05, 0x00};
    Cipher::Der::Iterator it(a.data(), 3);
    ASSERT_NE(it.next(), nullptr);
    it.attach(b.data(), 2);
    const Cipher::Der::Element* e = it.next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tag, 0x05u);
    it.attach(nullptr, 10);
    EXPECT_TRUE(it.is_end());
    EXPECT_EQ(it.next(), nullptr);
    it.attach(a.data(), -1);
    EXPECT_EQ(it.next(), nullptr);
}

}  // namespace
