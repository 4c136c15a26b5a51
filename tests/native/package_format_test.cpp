// The package format: layout, key chain, bounds, verification and the
// damage classes a package can arrive with.
#include <gtest/gtest.h>

#include "package/package.h"
#include "tests/support/test_package.h"

using namespace orlotest;

namespace {

TEST(PackageFormat, ExampleLayoutOfThePackageInUse) {
    const uint32_t sizes[3] = {2227736, 5054, 453201};
    EXPECT_EQ(packageSizeFor(sizes), 2686459u);
    std::vector<TestFile> files = {{"Orlocast.exe", patternBytes(sizes[0], 1)},
                                   {"readme.txt", patternBytes(sizes[1], 2)},
                                   {"OrloCastOnTheShow.pdf", patternBytes(sizes[2], 3)}};
    std::vector<uint8_t> image = buildTestPackage(files);
    ASSERT_EQ(image.size(), 2686459u);
    EXPECT_EQ(entryAt(image, 0)->offset, 468u);
    EXPECT_EQ(entryAt(image, 1)->offset, 2228204u);
    EXPECT_EQ(entryAt(image, 2)->offset, 2233258u);
    EXPECT_STREQ(entryAt(image, 2)->name, "OrloCastOnTheShow.pdf");
    // Name fields are zero-padded, reserved fields zero.
    for (int i = 0; i < 3; i++) {
        const PackageEntry* e = entryAt(image, i);
        for (size_t k = strlen(e->name); k < 128; k++) ASSERT_EQ(e->name[k], 0);
        EXPECT_EQ(e->reserved, 0u);
    }
}

TEST(PackageFormat, RoundTripGivesThePlainBytesAndTheirDigests) {
    const std::vector<TestFile> files = sampleFiles();
    std::vector<uint8_t> image = buildTestPackage(files);
    ASSERT_FALSE(image.empty());
    // Stored bytes are scrambled, not plain.
    EXPECT_NE(0, memcmp(image.data() + 468, files[0].bytes.data(), files[0].bytes.size()));

    EntryOutcome outcomes[3];
    EXPECT_EQ(0, unpackPackageImage(image.data(), (uint32_t)image.size(), outcomes));
    for (int i = 0; i < 3; i++) {
        const PackageEntry* e = entryAt(image, i);
        EXPECT_EQ(outcomes[i], ENTRY_OK);
        ASSERT_EQ(e->size, files[i].bytes.size());
        EXPECT_EQ(0, memcmp(image.data() + e->offset, files[i].bytes.data(), e->size)) << i;
        uint8_t digest[16];
        md5Digest(files[i].bytes.data(), e->size, digest);
        EXPECT_EQ(0, memcmp(digest, e->digest, 16));
    }
}

TEST(PackageFormat, ChainSeedAndKeyFollowTheStoredDigest) {
    PackageChain chain;
    startPackageChain(&chain);
    EXPECT_EQ(chain.seed, 0x3A94C1D7u);
    for (uint8_t b : chain.key) EXPECT_EQ(b, 0);
    uint8_t digest[16];
    for (int i = 0; i < 16; i++) digest[i] = (uint8_t)(0xC0 + i);
    advancePackageChain(&chain, digest);
    const uint32_t square = 0x3A94C1D7u * 0x3A94C1D7u;
    EXPECT_EQ(chain.seed, (square << 8) | 0xC0u);
    EXPECT_EQ(0, memcmp(chain.key, digest, 16));
}

TEST(PackageFormat, ReservedBytesAndBytesAfterTheNameDoNotMatter) {
    std::vector<uint8_t> image = buildTestPackage(sampleFiles());
    for (int i = 0; i < 3; i++) {
        entryAt(image, i)->reserved = 0xDEADBEEF;
        memset(entryAt(image, i)->name + 40, 'x', 88);
    }
    EXPECT_EQ(0, unpackPackageImage(image.data(), (uint32_t)image.size(), nullptr));
}

// The damage classes and how they spread along the chain.
struct Damage {
    const char* what;
    void (*apply)(std::vector<uint8_t>&);
    int result;
    EntryOutcome outcomes[3];
};

const Damage DAMAGES[] = {
    {"entry 1 digest altered", [](std::vector<uint8_t>& p) { entryAt(p, 1)->digest[5] ^= 1; }, -101,
     {ENTRY_OK, ENTRY_DIGEST_MISMATCH, ENTRY_OK}},
    {"entry 1 last digest byte altered", [](std::vector<uint8_t>& p) { entryAt(p, 1)->digest[15] ^= 0x80; }, -101,
     {ENTRY_OK, ENTRY_DIGEST_MISMATCH, ENTRY_OK}},
    {"one stored byte of entry 1 altered",
     [](std::vector<uint8_t>& p) { p[entryAt(p, 1)->offset + 3] ^= 0x40; }, -102,
     {ENTRY_OK, ENTRY_DIGEST_MISMATCH, ENTRY_DIGEST_MISMATCH}},
    {"one stored byte of entry 0 altered", [](std::vector<uint8_t>& p) { p[468] ^= 1; }, -103,
     {ENTRY_DIGEST_MISMATCH, ENTRY_DIGEST_MISMATCH, ENTRY_DIGEST_MISMATCH}},
    {"last stored byte of entry 2 altered", [](std::vector<uint8_t>& p) { p.back() ^= 1; }, -101,
     {ENTRY_OK, ENTRY_OK, ENTRY_DIGEST_MISMATCH}},
    {"entry 0 out of bounds", [](std::vector<uint8_t>& p) { entryAt(p, 0)->size = (uint32_t)p.size(); }, -103,
     {ENTRY_OUT_OF_BOUNDS, ENTRY_DIGEST_MISMATCH, ENTRY_DIGEST_MISMATCH}},
    {"entry 2 offset + size wraps 32 bits",
     [](std::vector<uint8_t>& p) {
         entryAt(p, 2)->offset = 0xFFFFFF00u;
         entryAt(p, 2)->size = 0x200;
     },
     -101, {ENTRY_OK, ENTRY_OK, ENTRY_OUT_OF_BOUNDS}},
    {"entry 1 size 0xFFFFFFFF", [](std::vector<uint8_t>& p) { entryAt(p, 1)->size = 0xFFFFFFFFu; }, -102,
     {ENTRY_OK, ENTRY_OUT_OF_BOUNDS, ENTRY_DIGEST_MISMATCH}},
    {"entry 1 empty", [](std::vector<uint8_t>& p) { entryAt(p, 1)->size = 0; }, -102,
     {ENTRY_OK, ENTRY_EMPTY, ENTRY_DIGEST_MISMATCH}},
    {"entry 2 overlaps entry 1",
     [](std::vector<uint8_t>& p) { entryAt(p, 2)->offset = entryAt(p, 1)->offset; }, -101,
     {ENTRY_OK, ENTRY_OK, ENTRY_DIGEST_MISMATCH}},
};

TEST(PackageFormat, DamageClassesGiveTheirResultAndOutcomes) {
    const std::vector<uint8_t> good = buildTestPackage(sampleFiles());
    for (const Damage& damage : DAMAGES) {
        std::vector<uint8_t> image = good;
        damage.apply(image);
        EntryOutcome outcomes[3];
        EXPECT_EQ(damage.result, unpackPackageImage(image.data(), (uint32_t)image.size(), outcomes)) << damage.what;
        for (int i = 0; i < 3; i++) EXPECT_EQ(damage.outcomes[i], outcomes[i]) << damage.what << ", entry " << i;
    }
}

TEST(PackageFormat, HeaderNeedsMoreThan468Bytes) {
    std::vector<uint8_t> image = buildTestPackage(sampleFiles());
    PackageHeader header;
    memset(&header, 0x77, sizeof header);
    EXPECT_EQ(-1, parsePackageHeader(image.data(), 468, &header));
    EXPECT_EQ(0x77, ((uint8_t*)&header)[0]);  // untouched
    EXPECT_EQ(-1, parsePackageHeader(nullptr, 5000, &header));
    EXPECT_EQ(0, parsePackageHeader(image.data(), 469, &header));
    EXPECT_EQ(0, memcmp(&header, image.data(), 468));
    EXPECT_EQ(-1, unpackPackageImage(image.data(), 468, nullptr));
}

TEST(PackageFormat, BoundsTestHasNoWrapAround) {
    PackageEntry e{};
    e.offset = 100;
    e.size = 50;
    EXPECT_EQ(1, entryInBounds(&e, 150));
    EXPECT_EQ(0, entryInBounds(&e, 149));
    e.offset = 0xFFFFFFFFu;
    e.size = 1;  // wraps to 0 in 32 bits
    EXPECT_EQ(0, entryInBounds(&e, 0xFFFFFFFFu));
    e.offset = 1;
    e.size = 0xFFFFFFFFu;
    EXPECT_EQ(0, entryInBounds(&e, 0xFFFFFFFFu));
}

TEST(PackageFormat, BuildRefusesWhatNoPackageMayHold) {
    const std::vector<uint8_t> one(1, 'x');
    const uint8_t* data[3] = {one.data(), one.data(), one.data()};
    uint32_t sizes[3] = {1, 1, 1};
    std::vector<uint8_t> out(471);
    const std::string longName(128, 'n');
    const char* good[3] = {"a", "b", "c"};
    EXPECT_EQ(0, buildPackageImage(good, data, sizes, out.data(), 471));
    EXPECT_EQ(-1, buildPackageImage(good, data, sizes, out.data(), 470));  // output too small
    const char* empty[3] = {"a", "", "c"};
    EXPECT_EQ(-1, buildPackageImage(empty, data, sizes, out.data(), 471));
    const char* tooLong[3] = {"a", longName.c_str(), "c"};
    EXPECT_EQ(-1, buildPackageImage(tooLong, data, sizes, out.data(), 471));
    sizes[2] = 0;
    EXPECT_EQ(-1, buildPackageImage(good, data, sizes, out.data(), 471));
    const uint32_t huge[3] = {0xFFFFFFFFu, 1, 1};
    EXPECT_EQ(0u, packageSizeFor(huge));
}

TEST(EntryNames, OnlyPlainRelativeNamesAreSafe) {
    struct Case {
        std::string name;
        int safe;
    };
    const Case cases[] = {
        {"Orlocast.exe", 1},      {"readme.txt", 1},          {"docs\\guide.pdf", 1},
        {"a\\b\\c.d", 1},         {"con.txt.bak", 0},      {"console.txt", 1},         {"COM0", 0},
        {"my-file (1).txt", 1},   {std::string(127, 'x'), 1}, {"", 0},
        {"..", 0},                {".", 0},                   {"..\\evil.exe", 0},
        {"docs\\..\\..\\x", 0},   {"docs\\.\\x", 0},          {"\\Windows\\x.dll", 0},
        {"\\\\server\\share", 0}, {"C:\\x.exe", 0},           {"C:x.exe", 0},
        {"x:y", 0},               {"a/b.txt", 0},             {"../x", 0},
        {"a\\\\b", 0},            {"dir\\", 0},               {"x.", 0},
        {"x ", 0},                {"... ", 0},                {"CON", 0},
        {"nul.txt", 0},           {"dir\\com1.log", 0},       {"LPT9", 0},
        {"a\tb", 0},              {"a*b", 0},                 {"a?b", 0},
        {"a|b", 0},               {"a\"b", 0},                {"a<b>", 0},
    };
    for (const Case& c : cases) {
        PackageEntry e{};
        memcpy(e.name, c.name.data(), c.name.size());
        EXPECT_EQ(c.safe, entryNameIsSafe(&e)) << "'" << c.name << "'";
    }
    PackageEntry unterminated;
    memset(unterminated.name, 'a', 128);
    EXPECT_EQ(-1, entryNameLength(&unterminated));
    EXPECT_EQ(0, entryNameIsSafe(&unterminated));
}

}  // namespace
