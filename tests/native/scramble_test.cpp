// The two scramblers and the block routines.
#include <gtest/gtest.h>

#include <vector>

#include "package/package.h"

namespace {

const uint8_t KEY[16] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                         0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};

std::vector<uint8_t> sample(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; i++) bytes[i] = (uint8_t)(i * 37 + 11);
    return bytes;
}

TEST(Scramblers, ApplyingTwiceRestoresTheInput) {
    for (size_t length : {1u, 2u, 15u, 16u, 17u, 100u, 4096u, 65537u}) {
        const std::vector<uint8_t> original = sample(length);
        std::vector<uint8_t> bytes = original;
        scramblePackageBytes(0x3A94C1D7u, bytes.data(), (uint32_t)length, KEY);
        EXPECT_NE(bytes, original) << length;
        scramblePackageBytes(0x3A94C1D7u, bytes.data(), (uint32_t)length, KEY);
        EXPECT_EQ(bytes, original) << length;

        EXPECT_EQ(0, scrambleLinkBytes(LINK_SEED, bytes.data(), (uint32_t)length));
        EXPECT_EQ(0, scrambleLinkBytes(LINK_SEED, bytes.data(), (uint32_t)length));
        EXPECT_EQ(bytes, original) << length;
    }
}

TEST(Scramblers, OneByteRegionUsesKeyByteOne) {
    const uint32_t seed = 0x12345678u;
    const uint32_t a = seed + 1;
    const uint32_t s = a * a;
    uint8_t byte = 0x5A;
    scramblePackageBytes(seed, &byte, 1, KEY);
    EXPECT_EQ(byte, (uint8_t)(0x5A ^ (uint8_t)((s & 0xFF) + ((s >> 8) & 0xFF) + KEY[1])));

    byte = 0x5A;
    scrambleLinkBytes(seed, &byte, 1);
    EXPECT_EQ(byte, (uint8_t)(0x5A ^ (uint8_t)(s >> 8)));
}

// The link keystream of `count` bytes, computed by hand with an arithmetic
// (sign-filling) or a logical shift of the state.
std::vector<uint8_t> linkKeystream(uint32_t seed, uint32_t count, bool arithmetic) {
    std::vector<uint8_t> out;
    uint32_t a = seed;
    for (uint32_t n = count; n >= 1; n--) {
        a += n;
        const uint32_t s = a * a;
        out.push_back((uint8_t)(s >> 8));
        a = arithmetic ? (uint32_t)((int32_t)s >> 8) : (s >> 8);
    }
    return out;
}

TEST(Scramblers, ShiftIsArithmeticWhenBit31IsSet) {
    // A seed whose first state word has bit 31 set, and for which the two
    // kinds of shift lead to different keystreams further on.
    const uint32_t count = 16;
    uint32_t seed = 0;
    for (; seed < 100000; seed++) {
        const uint32_t a = seed + count;
        if (((a * a) & 0x80000000u) && linkKeystream(seed, count, true) != linkKeystream(seed, count, false)) break;
    }
    ASSERT_LT(seed, 100000u);
    std::vector<uint8_t> bytes(count, 0);
    scrambleLinkBytes(seed, bytes.data(), count);
    EXPECT_EQ(bytes, linkKeystream(seed, count, true)) << "seed " << seed;
    EXPECT_NE(bytes, linkKeystream(seed, count, false));
}

TEST(Scramblers, RegionMustBeProcessedWhole) {
    const std::vector<uint8_t> original = sample(100);
    std::vector<uint8_t> bytes = original;
    scramblePackageBytes(PACKAGE_SEED, bytes.data(), 100, KEY);
    scramblePackageBytes(PACKAGE_SEED, bytes.data(), 50, KEY);
    scramblePackageBytes(PACKAGE_SEED, bytes.data() + 50, 50, KEY);
    EXPECT_NE(bytes, original);
}

TEST(Scramblers, KeystreamDependsOnSeedKeyAndLengthOnly) {
    std::vector<uint8_t> zeros(64, 0), ones(64, 0xFF);
    scramblePackageBytes(PACKAGE_SEED, zeros.data(), 64, KEY);
    scramblePackageBytes(PACKAGE_SEED, ones.data(), 64, KEY);
    for (size_t i = 0; i < 64; i++) EXPECT_EQ((uint8_t)(zeros[i] ^ 0xFF), ones[i]);

    uint8_t otherKey[16];
    memcpy(otherKey, KEY, 16);
    otherKey[0] ^= 1;  // key byte 0 is used where n mod 16 == 0: the 16th byte from the end
    std::vector<uint8_t> a(64, 0), b(64, 0);
    scramblePackageBytes(PACKAGE_SEED, a.data(), 64, KEY);
    scramblePackageBytes(PACKAGE_SEED, b.data(), 64, otherKey);
    EXPECT_NE(a[64 - 16], b[64 - 16]);
    EXPECT_EQ(a[63], b[63]);
}

TEST(Scramblers, NullAndZeroCounts) {
    EXPECT_EQ(-1, scrambleLinkBytes(LINK_SEED, nullptr, 10));
    uint8_t byte = 7;
    EXPECT_EQ(0, scrambleLinkBytes(LINK_SEED, &byte, 0));
    EXPECT_EQ(0, scramblePackageBytes(PACKAGE_SEED, &byte, 0, KEY));
    EXPECT_EQ(byte, 7);
}

TEST(BlockRoutines, CopyCompareZero) {
    std::vector<uint8_t> source = sample(37), destination(39, 0xEE);
    copyBlock(destination.data() + 1, source.data(), 37);
    EXPECT_EQ(0, memcmp(destination.data() + 1, source.data(), 37));
    EXPECT_EQ(destination[0], 0xEE);
    EXPECT_EQ(destination[38], 0xEE);
    copyBlock(destination.data(), destination.data(), 39);  // same address: nothing happens
    copyBlock(destination.data(), source.data(), 0);
    EXPECT_EQ(destination[0], 0xEE);

    EXPECT_EQ(1, blocksEqual(source.data(), destination.data() + 1, 37));
    EXPECT_EQ(1, blocksEqual(source.data(), source.data(), 37));
    EXPECT_EQ(1, blocksEqual(source.data(), nullptr, 0));
    for (size_t at : {0u, 7u, 8u, 15u, 36u}) {
        std::vector<uint8_t> other = source;
        other[at] ^= 0x20;  // would be equal under case folding for letters
        EXPECT_EQ(0, blocksEqual(source.data(), other.data(), 37)) << at;
    }
    const uint8_t withZero1[4] = {'a', 0, 'b', 'c'}, withZero2[4] = {'a', 0, 'b', 'd'};
    EXPECT_EQ(0, blocksEqual(withZero1, withZero2, 4));

    zeroBlock(destination.data() + 1, 37);
    for (size_t i = 1; i <= 37; i++) EXPECT_EQ(destination[i], 0) << i;
    EXPECT_EQ(destination[0], 0xEE);
    EXPECT_EQ(destination[38], 0xEE);
}

}  // namespace
