// unpackEntryInPlace makes one pass over a region (the stored digest, the
// descrambling and the plain digest side by side, 64 bytes at a time). It
// must give exactly what the three separate passes give: md5Digest of the
// stored bytes, scramblePackageBytes in place, md5Digest of the result.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "package/package.h"
#include "tests/support/test_package.h"

using namespace orlotest;

namespace {

struct Reference {
    std::vector<uint8_t> plain;
    uint8_t storedDigest[16];
    uint8_t plainDigest[16];
};

Reference straightforward(const uint8_t* stored, uint32_t size, uint32_t seed, const uint8_t key[16]) {
    Reference r;
    r.plain.assign(stored, stored + size);
    md5Digest(r.plain.data(), size, r.storedDigest);
    scramblePackageBytes(seed, r.plain.data(), size, key);
    md5Digest(r.plain.data(), size, r.plainDigest);
    return r;
}

// Places `size` stored bytes at an odd offset of an image (so the words are
// unaligned), runs unpackEntryInPlace and compares everything it produces
// with the straightforward order.
void expectSameAsStraightforward(uint32_t size, uint32_t seed, uint32_t patternSeed, bool digestMatches) {
    SCOPED_TRACE(testing::Message() << "size " << size << " seed 0x" << std::hex << seed);
    const uint32_t offset = 3;
    std::vector<uint8_t> image(offset + size + 5, 0xA5);
    const std::vector<uint8_t> stored = patternBytes(size, patternSeed);
    if (size) memcpy(image.data() + offset, stored.data(), size);

    PackageChain chain;
    chain.seed = seed;
    for (int i = 0; i < 16; i++) chain.key[i] = (uint8_t)(patternSeed * 37u + (uint32_t)i * 101u);
    const Reference ref = straightforward(stored.data(), size, chain.seed, chain.key);

    PackageEntry entry;
    memset(&entry, 0, sizeof entry);
    strcpy(entry.name, "x.bin");
    entry.offset = offset;
    entry.size = size;
    memcpy(entry.digest, ref.plainDigest, 16);
    if (!digestMatches) entry.digest[15] ^= 1;

    PackageChain expectedChain = chain;
    advancePackageChain(&expectedChain, ref.storedDigest);

    const EntryOutcome outcome = unpackEntryInPlace(image.data(), (uint32_t)image.size(), &entry, &chain);
    if (size == 0) {
        EXPECT_EQ(outcome, ENTRY_EMPTY);
    } else {
        EXPECT_EQ(outcome, digestMatches ? ENTRY_OK : ENTRY_DIGEST_MISMATCH);
    }
    ASSERT_TRUE(size == 0 || memcmp(image.data() + offset, ref.plain.data(), size) == 0)
        << "descrambled bytes differ";
    // Bytes around the region are untouched.
    for (uint32_t i = 0; i < offset; i++) ASSERT_EQ(image[i], 0xA5);
    for (uint32_t i = offset + size; i < image.size(); i++) ASSERT_EQ(image[i], 0xA5);
    // The chain moved on with the digest of the bytes as stored.
    EXPECT_EQ(chain.seed, expectedChain.seed);
    EXPECT_EQ(0, memcmp(chain.key, expectedChain.key, 16));
}

TEST(UnpackSinglePass, EqualsTheThreeSeparatePassesOnManySizes) {
    const uint32_t sizes[] = {0,    1,     2,     15,    16,    17,    55,    56,     63,      64,
                              65,   119,   120,   127,   128,   129,   191,   192,    193,     1000,
                              4095, 4096,  4097,  8191,  8192,  8193,  16383, 16384,  16385,   65536 + 17,
                              5054, 99999, 453201, 1048576, 1048577, 1048576 + 63};
    uint32_t pattern = 1;
    for (uint32_t size : sizes) {
        expectSameAsStraightforward(size, PACKAGE_SEED, pattern++, true);
        expectSameAsStraightforward(size, 0x80000000u + pattern, pattern, true);
    }
}

TEST(UnpackSinglePass, EqualsTheThreeSeparatePassesOnEverySizeUpTo300) {
    for (uint32_t size = 1; size <= 300; size++) expectSameAsStraightforward(size, 0xDEADBEEFu ^ size, size, true);
}

TEST(UnpackSinglePass, ProgramSizedRegionAndManySeeds) {
    expectSameAsStraightforward(2227736, PACKAGE_SEED, 11, true);
    const uint32_t seeds[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x12345678u};
    for (uint32_t seed : seeds) expectSameAsStraightforward(4096 + 65, seed, seed & 255, true);
}

TEST(UnpackSinglePass, MismatchIsReportedAndTheChainStillAdvances) {
    expectSameAsStraightforward(1, PACKAGE_SEED, 5, false);
    expectSameAsStraightforward(64, PACKAGE_SEED, 6, false);
    expectSameAsStraightforward(12345, PACKAGE_SEED, 7, false);
}

TEST(UnpackSinglePass, WholePackageInUseRoundTrips) {
    const uint32_t sizes[3] = {2227736, 5054, 453201};
    std::vector<TestFile> files = {{"Orlocast.exe", patternBytes(sizes[0], 21)},
                                   {"readme.txt", patternBytes(sizes[1], 22)},
                                   {"OrloCastOnTheShow.pdf", patternBytes(sizes[2], 23)}};
    std::vector<uint8_t> image = buildTestPackage(files);
    ASSERT_EQ(image.size(), 2686459u);
    EntryOutcome outcomes[3];
    ASSERT_EQ(0, unpackPackageImage(image.data(), (uint32_t)image.size(), outcomes));
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(outcomes[i], ENTRY_OK);
        EXPECT_EQ(0, memcmp(image.data() + entryAt(image, i)->offset, files[i].bytes.data(), sizes[i])) << i;
    }
}

}  // namespace
