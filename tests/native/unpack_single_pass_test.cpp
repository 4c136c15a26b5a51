// unpackEntryInPlace makes one pass over a region (stored digest, descrambling and plain digest
// side by side, 64 bytes at a time). It must give exactly what the three separate passes give:
// md5Digest of the stored bytes, scramblePackageBytes in place, md5Digest of the result.
#include <gtest/gtest.h>

#include "tests/support/test_package.h"

namespace {

// The stored bytes lie at an odd offset (unaligned words) between guard bytes.
void expectSameAsThreePasses(uint32_t size, uint32_t seed, bool digestMatches) {
    SCOPED_TRACE(testing::Message() << "size " << size << ", seed 0x" << std::hex << seed);
    std::vector<uint8_t> image(3 + size + 5, 0xA5), stored = orlotest::patternBytes(size, seed ^ size);
    std::copy(stored.begin(), stored.end(), image.begin() + 3);
    PackageChain chain = {seed, {}}, expectedChain;
    for (int i = 0; i < 16; i++) chain.key[i] = (uint8_t)(seed * 37u + (uint32_t)i * 101u);
    PackageEntry entry = {{}, 3, size, {}, 0};
    std::vector<uint8_t> expectedImage = image;
    uint8_t storedDigest[16];
    md5Digest(stored.data(), size, storedDigest);
    scramblePackageBytes(seed, expectedImage.data() + 3, size, chain.key);
    md5Digest(expectedImage.data() + 3, size, entry.digest);
    entry.digest[15] ^= digestMatches ? 0 : 1;
    expectedChain = chain;
    advancePackageChain(&expectedChain, storedDigest);

    const EntryOutcome outcome = unpackEntryInPlace(image.data(), (uint32_t)image.size(), &entry, &chain);
    EXPECT_EQ(size == 0 ? ENTRY_EMPTY : digestMatches ? ENTRY_OK : ENTRY_DIGEST_MISMATCH, outcome);
    EXPECT_TRUE(image == expectedImage) << "descrambled bytes or guard bytes differ";
    EXPECT_TRUE(chain.seed == expectedChain.seed && !memcmp(chain.key, expectedChain.key, 16))
        << "the chain did not move on by the digest of the stored bytes";
}

// Every size up to 300 (each rest after the whole blocks), with seeds whose
// states set bit 31, where the arithmetic shift matters; a mismatch must still
// move the chain on. Then larger and odd sizes up to the program's.
TEST(UnpackSinglePass, EqualsTheThreeSeparatePasses) {
    for (uint32_t size = 0; size <= 300; size++) {
        for (uint32_t seed : {PACKAGE_SEED, 0u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu ^ size}) {
            expectSameAsThreePasses(size, seed, (size + seed) % 5 != 0);
        }
    }
    for (uint32_t size : {4095u, 4096u, 4097u, 65553u, 1048639u, 2227736u}) {
        expectSameAsThreePasses(size, PACKAGE_SEED, true);
        expectSameAsThreePasses(size, 0x80000001u, false);
    }
}

}  // namespace
