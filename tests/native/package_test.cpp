// The package and what it is built on: MD5 (against OpenSSL), the scramblers, the format with its key chain and
// damage classes, entry names; the block routines are tested through all of them.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>

#include "tests/support/test_package.h"

using namespace orlotest;

namespace {

using Bytes = std::vector<uint8_t>;
const uint8_t KEY[16] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                         0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};
const EntryOutcome OK = ENTRY_OK, BOUNDS = ENTRY_OUT_OF_BOUNDS, EMPTY = ENTRY_EMPTY, DIGEST = ENTRY_DIGEST_MISMATCH;

// Lengths around the padding boundaries (55 bytes leave room for the length, 56 do not), whole
// and in pieces that leave the buffer partly filled; exactly 16 bytes written, the context wiped.
TEST(Md5, EveryLengthInAnyPiecesMatchesOpenSsl) {
    for (uint32_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 4099u}) {
        const Bytes bytes = patternBytes(length, length);
        uint8_t expected[EVP_MAX_MD_SIZE], out[18];  // out: a guard byte either side of the digest
        EVP_Digest(bytes.data(), length, expected, nullptr, EVP_md5(), nullptr);
        for (uint32_t piece : {length, 1u, 3u, 55u, 63u, 64u, 65u}) {
            Md5Context context, wiped = {};
            md5Init(&context);
            for (uint32_t at = 0; at < length; at += piece)
                md5Update(&context, &bytes[at], std::min(piece, length - at));
            memset(out, 0xA5, sizeof out);
            md5Final(out + 1, &context);
            EXPECT_EQ(0, memcmp(out + 1, expected, 16)) << "length " << length << " in pieces of " << piece;
            EXPECT_TRUE(out[0] == 0xA5 && out[17] == 0xA5) << "wrote outside the digest";
            EXPECT_EQ(0, memcmp(&context, &wiped, sizeof context)) << "md5Final left the context behind";
        }
    }
}

Bytes scrambled(Bytes bytes, uint32_t from, uint32_t count) {
    scramblePackageBytes(PACKAGE_SEED, bytes.data() + from, count, KEY);
    return bytes;
}

// Both change the bytes and undo themselves; the package keystream hangs on the whole count
// (halves scrambled apart do not undo it).
TEST(Scramblers, EachIsItsOwnInverseOverTheWholeRegion) {
    const auto linked = [](Bytes b) { return scrambleLinkBytes(LINK_SEED, b.data(), (uint32_t)b.size()), b; };
    for (uint32_t length : {2u, 15u, 16u, 17u, 99u, 4096u, 65537u}) {
        const Bytes original = patternBytes(length, length), once = scrambled(original, 0, length);
        EXPECT_TRUE(once != original && scrambled(once, 0, length) == original) << length;
        EXPECT_NE(original, scrambled(scrambled(once, 0, length / 2), length / 2, length - length / 2)) << length;
        EXPECT_TRUE(linked(original) != original && linked(linked(original)) == original) << length;
    }
    // The keystreams (zeros scrambled) for LINK_SEED, and for PACKAGE_SEED with KEY, worked out apart from
    // this code by the format's rule: 20 bytes take every key byte, and a logical shift would change both.
    const struct {
        uint32_t count;
        const char *link, *package;
    } known[] = {{1, "de", "c7"},
                 {20, "40ead80061d1c486d3c8a003e0369e1fca0af866", "3a53b20c0aa997e5f18d8bf145fae7474a48580e"}};
    const auto hex = [](const Bytes& bytes) {
        std::string out;
        for (uint8_t b : bytes) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
        return out;
    };
    for (const auto& k : known) {
        EXPECT_EQ(k.link, hex(linked(Bytes(k.count, 0)))) << k.count;
        EXPECT_EQ(k.package, hex(scrambled(Bytes(k.count, 0), 0, k.count))) << k.count;
    }
    uint8_t byte = 7;
    EXPECT_EQ(0, scrambleLinkBytes(LINK_SEED, &byte, 0) + scramblePackageBytes(PACKAGE_SEED, &byte, 0, KEY));
    EXPECT_EQ(7, byte) << "a count of 0 changed a byte";
    EXPECT_EQ(-1, scrambleLinkBytes(LINK_SEED, nullptr, 10));
}

// Entries back to back after the 468-byte header (3001 and 517 bytes); name
// fields zero after the name and reserved fields zero, for reproducible builds.
TEST(PackageFormat, LayoutOfABuiltPackage) {
    const std::vector<TestFile> files = sampleFiles();
    const uint32_t offsets[3] = {468, 3469, 3986};
    Bytes image = buildTestPackage(files);
    ASSERT_EQ(image.size(), 3986u + 1290);
    for (int i = 0; i < 3; i++) {
        const PackageEntry* e = entryAt(image, i);
        EXPECT_EQ(files[i].name + std::string(128 - files[i].name.size(), '\0'), std::string(e->name, 128));
        EXPECT_TRUE(e->offset == offsets[i] && e->size == files[i].bytes.size() && e->reserved == 0) << i;
    }
}

TEST(PackageFormat, ChainStartsFixedAndStepsByTheStoredDigest) {
    PackageChain chain;
    memset(&chain, 0x55, sizeof chain);
    startPackageChain(&chain);
    const uint8_t zero[16] = {}, digest[16] = {0xC0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xCF};
    EXPECT_TRUE(chain.seed == 0x3A94C1D7u && !memcmp(chain.key, zero, 16));
    advancePackageChain(&chain, digest);  // 0x3A94C1D7 squared is 0x1F5DE291; << 8, | digest[0]
    EXPECT_TRUE(chain.seed == 0x5DE291C0u && !memcmp(chain.key, digest, 16)) << std::hex << chain.seed;
}

TEST(PackageFormat, HeaderNeedsMoreThan468BytesAndBoundsDoNotWrap) {
    Bytes image = buildTestPackage(sampleFiles());
    PackageHeader header;
    memset(&header, 0x77, sizeof header);
    EXPECT_EQ(-1, parsePackageHeader(image.data(), 468, &header));
    EXPECT_EQ(-1, parsePackageHeader(nullptr, 5000, &header));
    EXPECT_EQ(0x77, ((uint8_t*)&header)[0]) << "header touched";
    EXPECT_EQ(-1, unpackPackageImage(image.data(), 468, nullptr));
    EXPECT_EQ(0, parsePackageHeader(image.data(), 469, &header));
    EXPECT_EQ(0, memcmp(&header, image.data(), 468));
    const auto inBounds = [](uint32_t offset, uint32_t size, uint32_t packageSize) {
        const PackageEntry e = {{}, offset, size, {}, 0};
        return entryInBounds(&e, packageSize);
    };
    EXPECT_EQ(1, inBounds(100, 50, 150) & inBounds(0, ~0u, ~0u));
    EXPECT_EQ(0, inBounds(100, 50, 149) | inBounds(~0u, 1, ~0u) | inBounds(1, ~0u, ~0u)) << "past the end or wrapped";
}

// Entry 0 out of bounds; entries 1 and 2 scrambled again with the chain as it runs when entry 0
// is left out. Only a chain that does not step past an entry out of bounds brings them out
// whole (in the other damages such a step would spoil only entries spoilt anyway).
void skipEntry0(Bytes& image) {
    entryAt(image, 0)->offset = (uint32_t)image.size();
    PackageChain chain;
    startPackageChain(&chain);
    for (int i = 1; i < 3; i++) {
        const uint32_t size = entryAt(image, i)->size;
        uint8_t *region = image.data() + entryAt(image, i)->offset, storedDigest[16];
        memcpy(region, sampleFiles()[i].bytes.data(), size);
        scramblePackageBytes(chain.seed, region, size, chain.key);
        md5Digest(region, size, storedDigest);
        advancePackageChain(&chain, storedDigest);
    }
}

// The damage classes and how they spread along the chain, whose key is the
// digest of the bytes as stored.
struct Damage {
    const char* what;
    void (*apply)(Bytes&);
    int result;
    EntryOutcome outcomes[3];
};
// clang-format off
const Damage DAMAGES[] = {
    {"nothing", [](Bytes&) {}, 0, {OK, OK, OK}},
    {"reserved field, bytes after a name", [](Bytes& p) { entryAt(p, 0)->reserved = ~0u, p[100] = 1; }, 0, {OK, OK, OK}},
    {"entry 1 digest", [](Bytes& p) { entryAt(p, 1)->digest[5] ^= 1; }, -101, {OK, DIGEST, OK}},
    {"entry 1 last digest byte", [](Bytes& p) { entryAt(p, 1)->digest[15] ^= 0x80; }, -101, {OK, DIGEST, OK}},
    {"a stored byte of entry 1", [](Bytes& p) { p[entryAt(p, 1)->offset + 3] ^= 4; }, -102, {OK, DIGEST, DIGEST}},
    {"a stored byte of entry 0", [](Bytes& p) { p[468] ^= 1; }, -103, {DIGEST, DIGEST, DIGEST}},
    {"last stored byte of entry 2", [](Bytes& p) { p.back() ^= 1; }, -101, {OK, OK, DIGEST}},
    {"entry 0 out of bounds", [](Bytes& p) { entryAt(p, 0)->size = (uint32_t)p.size(); }, -103, {BOUNDS, DIGEST, DIGEST}},
    {"entry 0 out of bounds, left out of the chain", skipEntry0, -101, {BOUNDS, OK, OK}},
    {"entry 2 wraps 32 bits", [](Bytes& p) { entryAt(p, 2)->offset = 0xFFFFFF00u; }, -101, {OK, OK, BOUNDS}},
    {"entry 1 size 0xFFFFFFFF", [](Bytes& p) { entryAt(p, 1)->size = 0xFFFFFFFFu; }, -102, {OK, BOUNDS, DIGEST}},
    {"entry 1 empty", [](Bytes& p) { entryAt(p, 1)->size = 0; }, -102, {OK, EMPTY, DIGEST}},
    {"entry 2 over entry 1", [](Bytes& p) { entryAt(p, 2)->offset = entryAt(p, 1)->offset; }, -101, {OK, OK, DIGEST}}
};
// clang-format on

// An undamaged package also comes out as its plain files.
TEST(PackageFormat, DamageClassesGiveTheirResultAndOutcomes) {
    const std::vector<TestFile> files = sampleFiles();
    const Bytes good = buildTestPackage(files);
    for (const Damage& damage : DAMAGES) {
        Bytes image = good;
        damage.apply(image);
        EntryOutcome outcomes[3];
        EXPECT_EQ(damage.result, unpackPackageImage(image.data(), (uint32_t)image.size(), outcomes)) << damage.what;
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(damage.outcomes[i], outcomes[i]) << damage.what << ", entry " << i;
            const PackageEntry* e = entryAt(image, i);
            if (!damage.result) EXPECT_EQ(0, memcmp(&image[e->offset], files[i].bytes.data(), e->size)) << i;
        }
    }
}

TEST(PackageFormat, BuildRefusesWhatNoPackageMayHold) {
    const uint8_t byte = 'x', *data[3] = {&byte, &byte, &byte};
    const uint32_t sizes[3] = {1, 1, 1}, emptyFile[3] = {1, 1, 0}, huge[3] = {0xFFFFFFFFu, 1, 1};
    const std::string longName(128, 'n');
    const char *good[3] = {"a", "b", "c"}, *empty[3] = {"a", "", "c"}, *tooLong[3] = {"a", longName.c_str(), "c"};
    uint8_t out[471];
    EXPECT_EQ(0, buildPackageImage(good, data, sizes, out, 471));
    EXPECT_EQ(-1, buildPackageImage(good, data, sizes, out, 470));
    EXPECT_EQ(-1, buildPackageImage(empty, data, sizes, out, 471));
    EXPECT_EQ(-1, buildPackageImage(tooLong, data, sizes, out, 471));
    EXPECT_EQ(-1, buildPackageImage(good, data, emptyFile, out, 471));
    EXPECT_EQ(0u, packageSizeFor(huge));
}

TEST(EntryNames, OnlyPlainRelativeFileNamesAreSafe) {
    const std::string safe[] = {"Orlocast.exe",        "docs\\guide.pdf", "a\\b\\c.d", "my-file (1).txt",
                                std::string(127, 'x'), "console.txt",     "COM10",     "NULL.txt",
                                "AUXILIARY",           "nu l.txt",        "COM"};
    // clang-format off
    const std::string unsafe[] = {
        "", "..", ".", "..\\evil.exe", "docs\\..\\..\\x", "docs\\.\\x", "\\Windows\\x.dll", "\\\\server\\share",
        "C:\\x.exe", "C:x.exe", "x:y", "a/b.txt", "../x", "a\\\\b", "dir\\", "x.", "x ", "... ", "a\tb", "a*b",
        "a?b", "a|b", "a\"b", "a<b>",
        // Devices, also behind an extension or blanks before the dot, with the digit 0 or a superscript.
        "CON", "con.txt.bak", "nul.txt", "dir\\com1.log", "LPT9", "NUL .txt", "COM1 .log", "AUX  .x",
        "a\\NUL .txt", "CONIN$", "conout$.txt", "COM0", "LPT0", "COM\xB9", "LPT\xB2.txt", "lpt\xB3",
        std::string(128, 'a')};  // no terminator inside the field
    // clang-format on
    const auto judged = [](const std::string& name) {
        PackageEntry e = {};
        memcpy(e.name, name.data(), name.size());
        return entryNameIsSafe(&e);
    };
    for (const std::string& name : safe) EXPECT_EQ(1, judged(name)) << "'" << name << "'";
    for (const std::string& name : unsafe) EXPECT_EQ(0, judged(name)) << "'" << name << "'";
}

}  // namespace
