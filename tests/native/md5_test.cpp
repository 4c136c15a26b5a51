// MD5 against the RFC 1321 test suite and against OpenSSL as an independent
// reference, whole and fed in pieces.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "package/package.h"

namespace {

std::string hexOf(const uint8_t* digest) {
    char out[33];
    for (int i = 0; i < 16; i++) snprintf(out + 2 * i, 3, "%02x", digest[i]);
    return out;
}

std::string md5Hex(const std::string& text) {
    uint8_t digest[16];
    md5Digest(text.data(), (uint32_t)text.size(), digest);
    return hexOf(digest);
}

std::string opensslMd5Hex(const uint8_t* bytes, size_t length) {
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes, length, digest, &size, EVP_md5(), nullptr);
    return hexOf(digest);
}

std::vector<uint8_t> patterned(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; i++) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = (uint8_t)(seed >> 16);
    }
    return bytes;
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("1234567890123456789012345678901234567890123456789012345678901234567890123456789"
                     "0"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

// The padding boundaries: 55 bytes still fit the length in the same block,
// 56 need a second one; 63, 64, 65 straddle a whole block.
TEST(Md5, LengthsAroundTheBlockAndPaddingBoundaries) {
    for (size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 1000u}) {
        const std::vector<uint8_t> bytes = patterned(length, (uint32_t)length);
        uint8_t digest[16];
        md5Digest(bytes.data(), (uint32_t)bytes.size(), digest);
        EXPECT_EQ(hexOf(digest), opensslMd5Hex(bytes.data(), bytes.size())) << "length " << length;
    }
}

TEST(Md5, PiecesGiveTheSameDigestAsOneCall) {
    const std::vector<uint8_t> bytes = patterned(4099, 7);
    const std::string expected = opensslMd5Hex(bytes.data(), bytes.size());
    for (uint32_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 1000u}) {
        Md5Context context;
        md5Init(&context);
        for (size_t at = 0; at < bytes.size(); at += piece) {
            const uint32_t count = (uint32_t)std::min<size_t>(piece, bytes.size() - at);
            md5Update(&context, bytes.data() + at, count);
        }
        uint8_t digest[16];
        md5Final(digest, &context);
        EXPECT_EQ(hexOf(digest), expected) << "piece size " << piece;
        // md5Final wipes the whole context.
        const std::vector<uint8_t> zero(sizeof context, 0);
        EXPECT_EQ(0, memcmp(&context, zero.data(), sizeof context));
    }
}

TEST(Md5, WritesExactlySixteenBytes) {
    uint8_t out[18];
    memset(out, 0xA5, sizeof out);
    md5Digest("abc", 3, out + 1);
    EXPECT_EQ(out[0], 0xA5);
    EXPECT_EQ(out[17], 0xA5);
    EXPECT_EQ(hexOf(out + 1), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
