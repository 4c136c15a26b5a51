// The package format as pure code over bytes held in memory: header parsing,
// the key chain, the bounds test, name checks, verification and building.
#include <string.h>

#include "package/package.h"
#include "platform/bounded_text.h"

namespace {

inline char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

// True when the component [begin, end) names a DOS device, which Windows
// opens instead of a file: the part before the first dot, with the blanks
// before that dot dropped as Windows drops them ("NUL .txt" is NUL), is CON,
// PRN, AUX, NUL, CONIN$, CONOUT$, COM or LPT followed by a digit or by a
// superscript one, two or three (0xB9, 0xB2, 0xB3 in code page 1252).
bool isDeviceName(const char* begin, const char* end) {
    const char* baseEnd = begin;
    while (baseEnd < end && *baseEnd != '.') baseEnd++;
    while (baseEnd > begin && baseEnd[-1] == ' ') baseEnd--;
    const int length = (int)(baseEnd - begin);
    if (length < 3 || length > 7) return false;
    char base[8] = {0};
    for (int i = 0; i < length; i++) base[i] = asciiUpper(begin[i]);
    static const char* const named[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : named) {
        if (textEqual(base, name)) return true;
    }
    if (length != 4 || !(blocksEqual(base, "COM", 3) || blocksEqual(base, "LPT", 3))) return false;
    const unsigned char number = (unsigned char)base[3];
    return (number >= '0' && number <= '9') || number == 0xB9 || number == 0xB2 || number == 0xB3;
}

bool isForbiddenNameChar(unsigned char c) {
    if (c < 32 || c == 127) return true;
    switch (c) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '/':
        case '|':
        case '?':
        case '*': return true;
        default: return false;
    }
}

#if !defined(__OPTIMIZE_SIZE__)

// ---------------------------------------------------------------------------
// Verify-and-descramble of one region in a single pass.
//
// The straightforward order reads a region three times: MD5 of the stored
// bytes, scramblePackageBytes in place, MD5 of the plain bytes. Each of the
// three is one long dependency chain (MD5's chaining words; the scrambler's
// state word a), so each alone leaves most of a core idle. Here they run
// side by side, 64 bytes at a time: for block j the MD5 steps of the stored
// words and of the plain words are issued together ("two lanes"), and
// between them the keystream of block j + 1 is computed, one keystream byte
// per MD5 step (without its key byte: the key bytes repeat with period 16,
// so one 64-byte pattern of them is added to every block at once). The
// working memory is about 600 bytes of stack; nothing is allocated. The
// results are bit for bit those of the three separate passes: the
// keystream's counter n still counts down from the region's full size, and
// the stored digest is of the bytes before they are changed.
// The bytes left over after the last whole block go through md5Update and
// a scalar keystream loop.
//
// Builds optimised for size (GCC and Clang define __OPTIMIZE_SIZE__ under
// -Os; the installer is one) keep the three passes instead: there the
// unrolled two-lane code would add about 6 KB to the program, and on i686,
// with its seven usable registers, it gains little (see docs/benchmarks.md).

inline uint32_t rotl32(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

inline uint32_t loadWord(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
#else
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
#endif
}

// The scrambler's state update: s shifted right by 8 arithmetically (bit 31
// of s fills bits 24..31). It is the one step of the keystream's chain after
// the multiplication, so it is written as a signed shift, which GCC, Clang
// and MSVC define as arithmetic and compile to one instruction (the unsigned
// spelling costs three or four). UnpackSinglePass tests pin the result.
inline uint32_t keystreamNext(uint32_t s) { return (uint32_t)((int32_t)s >> 8); }

// One keystream byte of scramblePackageBytes; a and n advance.
inline uint8_t keystreamByte(uint32_t& a, uint32_t& n, const uint8_t key[16]) {
    a += n;
    const uint32_t s = a * a;
    const uint8_t k = (uint8_t)((s & 0xFF) + ((s >> 8) & 0xFF) + key[n & 15]);
    a = keystreamNext(s);
    n--;
    return k;
}

// The same step without the key byte, for byte position n: returns
// (s mod 256 + bits 8..15 of s) mod 256, which is the low byte of s + a
// once a holds s shifted right by 8. The key byte is added 64 at a time.
inline uint8_t keystreamBase(uint32_t& a, uint32_t n) {
    a += n;
    const uint32_t s = a * a;
    a = keystreamNext(s);
    return (uint8_t)(s + a);
}

// The MD5 round functions in their forms with the fewest operations: with
// two lanes and the keystream in flight, the loop is bound by how many
// operations a core can issue, not by any one chain's latency.
#define ORLO_F(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define ORLO_G(b, c, d) ((((b) ^ (c)) & (d)) ^ (c))
#define ORLO_H(b, c, d) (((c) ^ (d)) ^ (b))
#define ORLO_I(b, c, d) (((b) | ~(d)) ^ (c))

// One MD5 step in both lanes (S: stored words, P: plain words), plus the
// key-less keystream byte j of the next block when WithKeystream.
#define ORLO_STEP2(FN, a, b, c, d, k, t, r, j)                         \
    a##S += xs[k] + (uint32_t)(t);                                     \
    a##P += xp[k] + (uint32_t)(t);                                     \
    a##S += FN(b##S, c##S, d##S);                                      \
    a##P += FN(b##P, c##P, d##P);                                      \
    if (WithKeystream) next[j] = keystreamBase(word, nextStart - (j)); \
    a##S = rotl32(a##S, r) + b##S;                                     \
    a##P = rotl32(a##P, r) + b##P;

// The MD5 transform of one 64-byte block in both lanes: xs holds the stored
// words, xp the plain ones. With WithKeystream, also writes the key-less keystream bytes of the next
// block (byte positions n = nextStart down to nextStart - 63) into next,
// advancing the scrambler's state word.
template <bool WithKeystream>
inline void md5BlockTwoLanes(uint32_t stateS[4], uint32_t stateP[4], const uint32_t xs[16], const uint32_t xp[16],
                             uint32_t& word, uint32_t nextStart, uint8_t next[64]) {
    uint32_t aS = stateS[0], bS = stateS[1], cS = stateS[2], dS = stateS[3];
    uint32_t aP = stateP[0], bP = stateP[1], cP = stateP[2], dP = stateP[3];
    (void)next;
    (void)nextStart;

    ORLO_STEP2(ORLO_F, a, b, c, d, 0, 0xd76aa478, 7, 0)
    ORLO_STEP2(ORLO_F, d, a, b, c, 1, 0xe8c7b756, 12, 1)
    ORLO_STEP2(ORLO_F, c, d, a, b, 2, 0x242070db, 17, 2)
    ORLO_STEP2(ORLO_F, b, c, d, a, 3, 0xc1bdceee, 22, 3)
    ORLO_STEP2(ORLO_F, a, b, c, d, 4, 0xf57c0faf, 7, 4)
    ORLO_STEP2(ORLO_F, d, a, b, c, 5, 0x4787c62a, 12, 5)
    ORLO_STEP2(ORLO_F, c, d, a, b, 6, 0xa8304613, 17, 6)
    ORLO_STEP2(ORLO_F, b, c, d, a, 7, 0xfd469501, 22, 7)
    ORLO_STEP2(ORLO_F, a, b, c, d, 8, 0x698098d8, 7, 8)
    ORLO_STEP2(ORLO_F, d, a, b, c, 9, 0x8b44f7af, 12, 9)
    ORLO_STEP2(ORLO_F, c, d, a, b, 10, 0xffff5bb1, 17, 10)
    ORLO_STEP2(ORLO_F, b, c, d, a, 11, 0x895cd7be, 22, 11)
    ORLO_STEP2(ORLO_F, a, b, c, d, 12, 0x6b901122, 7, 12)
    ORLO_STEP2(ORLO_F, d, a, b, c, 13, 0xfd987193, 12, 13)
    ORLO_STEP2(ORLO_F, c, d, a, b, 14, 0xa679438e, 17, 14)
    ORLO_STEP2(ORLO_F, b, c, d, a, 15, 0x49b40821, 22, 15)

    ORLO_STEP2(ORLO_G, a, b, c, d, 1, 0xf61e2562, 5, 16)
    ORLO_STEP2(ORLO_G, d, a, b, c, 6, 0xc040b340, 9, 17)
    ORLO_STEP2(ORLO_G, c, d, a, b, 11, 0x265e5a51, 14, 18)
    ORLO_STEP2(ORLO_G, b, c, d, a, 0, 0xe9b6c7aa, 20, 19)
    ORLO_STEP2(ORLO_G, a, b, c, d, 5, 0xd62f105d, 5, 20)
    ORLO_STEP2(ORLO_G, d, a, b, c, 10, 0x02441453, 9, 21)
    ORLO_STEP2(ORLO_G, c, d, a, b, 15, 0xd8a1e681, 14, 22)
    ORLO_STEP2(ORLO_G, b, c, d, a, 4, 0xe7d3fbc8, 20, 23)
    ORLO_STEP2(ORLO_G, a, b, c, d, 9, 0x21e1cde6, 5, 24)
    ORLO_STEP2(ORLO_G, d, a, b, c, 14, 0xc33707d6, 9, 25)
    ORLO_STEP2(ORLO_G, c, d, a, b, 3, 0xf4d50d87, 14, 26)
    ORLO_STEP2(ORLO_G, b, c, d, a, 8, 0x455a14ed, 20, 27)
    ORLO_STEP2(ORLO_G, a, b, c, d, 13, 0xa9e3e905, 5, 28)
    ORLO_STEP2(ORLO_G, d, a, b, c, 2, 0xfcefa3f8, 9, 29)
    ORLO_STEP2(ORLO_G, c, d, a, b, 7, 0x676f02d9, 14, 30)
    ORLO_STEP2(ORLO_G, b, c, d, a, 12, 0x8d2a4c8a, 20, 31)

    ORLO_STEP2(ORLO_H, a, b, c, d, 5, 0xfffa3942, 4, 32)
    ORLO_STEP2(ORLO_H, d, a, b, c, 8, 0x8771f681, 11, 33)
    ORLO_STEP2(ORLO_H, c, d, a, b, 11, 0x6d9d6122, 16, 34)
    ORLO_STEP2(ORLO_H, b, c, d, a, 14, 0xfde5380c, 23, 35)
    ORLO_STEP2(ORLO_H, a, b, c, d, 1, 0xa4beea44, 4, 36)
    ORLO_STEP2(ORLO_H, d, a, b, c, 4, 0x4bdecfa9, 11, 37)
    ORLO_STEP2(ORLO_H, c, d, a, b, 7, 0xf6bb4b60, 16, 38)
    ORLO_STEP2(ORLO_H, b, c, d, a, 10, 0xbebfbc70, 23, 39)
    ORLO_STEP2(ORLO_H, a, b, c, d, 13, 0x289b7ec6, 4, 40)
    ORLO_STEP2(ORLO_H, d, a, b, c, 0, 0xeaa127fa, 11, 41)
    ORLO_STEP2(ORLO_H, c, d, a, b, 3, 0xd4ef3085, 16, 42)
    ORLO_STEP2(ORLO_H, b, c, d, a, 6, 0x04881d05, 23, 43)
    ORLO_STEP2(ORLO_H, a, b, c, d, 9, 0xd9d4d039, 4, 44)
    ORLO_STEP2(ORLO_H, d, a, b, c, 12, 0xe6db99e5, 11, 45)
    ORLO_STEP2(ORLO_H, c, d, a, b, 15, 0x1fa27cf8, 16, 46)
    ORLO_STEP2(ORLO_H, b, c, d, a, 2, 0xc4ac5665, 23, 47)

    ORLO_STEP2(ORLO_I, a, b, c, d, 0, 0xf4292244, 6, 48)
    ORLO_STEP2(ORLO_I, d, a, b, c, 7, 0x432aff97, 10, 49)
    ORLO_STEP2(ORLO_I, c, d, a, b, 14, 0xab9423a7, 15, 50)
    ORLO_STEP2(ORLO_I, b, c, d, a, 5, 0xfc93a039, 21, 51)
    ORLO_STEP2(ORLO_I, a, b, c, d, 12, 0x655b59c3, 6, 52)
    ORLO_STEP2(ORLO_I, d, a, b, c, 3, 0x8f0ccc92, 10, 53)
    ORLO_STEP2(ORLO_I, c, d, a, b, 10, 0xffeff47d, 15, 54)
    ORLO_STEP2(ORLO_I, b, c, d, a, 1, 0x85845dd1, 21, 55)
    ORLO_STEP2(ORLO_I, a, b, c, d, 8, 0x6fa87e4f, 6, 56)
    ORLO_STEP2(ORLO_I, d, a, b, c, 15, 0xfe2ce6e0, 10, 57)
    ORLO_STEP2(ORLO_I, c, d, a, b, 6, 0xa3014314, 15, 58)
    ORLO_STEP2(ORLO_I, b, c, d, a, 13, 0x4e0811a1, 21, 59)
    ORLO_STEP2(ORLO_I, a, b, c, d, 4, 0xf7537e82, 6, 60)
    ORLO_STEP2(ORLO_I, d, a, b, c, 11, 0xbd3af235, 10, 61)
    ORLO_STEP2(ORLO_I, c, d, a, b, 2, 0x2ad7d2bb, 15, 62)
    ORLO_STEP2(ORLO_I, b, c, d, a, 9, 0xeb86d391, 21, 63)

    stateS[0] += aS;
    stateS[1] += bS;
    stateS[2] += cS;
    stateS[3] += dS;
    stateP[0] += aP;
    stateP[1] += bP;
    stateP[2] += cP;
    stateP[3] += dP;
}

#undef ORLO_STEP2
#undef ORLO_F
#undef ORLO_G
#undef ORLO_H
#undef ORLO_I

// MD5 of the region as stored into storedDigest, the region descrambled in
// place with (seed, key), MD5 of the result into plainDigest. Same results
// as md5Digest, scramblePackageBytes, md5Digest one after the other.
void unpackRegion(uint8_t* region, uint32_t size, uint32_t seed, const uint8_t key[16], uint8_t storedDigest[16],
                  uint8_t plainDigest[16]) {
    uint32_t word = seed;  // the scrambler's state word a

    Md5Context stored;
    Md5Context plain;
    md5Init(&stored);
    md5Init(&plain);

    // Byte j of every whole block has n = size - 64 * block - j, so it takes
    // key byte (size - j) mod 16: one pattern of 64 key bytes serves all
    // blocks.
    uint8_t keyPattern[64];
    for (uint32_t j = 0; j < 64; j++) keyPattern[j] = key[(size - j) & 15];

    const uint32_t wholeBlocks = size / 64;
    uint8_t keystream[2][64];
    if (wholeBlocks > 0) {
        for (uint32_t j = 0; j < 64; j++) keystream[0][j] = keystreamBase(word, size - j);
    }
    uint8_t* p = region;
    for (uint32_t block = 0; block < wholeBlocks; block++, p += 64) {
        const uint8_t* current = keystream[block & 1];
        uint8_t* next = keystream[(block + 1) & 1];
        uint32_t xs[16];
        uint32_t xp[16];
        for (int i = 0; i < 16; i++) xs[i] = loadWord(p + 4 * i);
        for (int j = 0; j < 64; j++) p[j] = (uint8_t)(p[j] ^ (uint8_t)(current[j] + keyPattern[j]));
        for (int i = 0; i < 16; i++) xp[i] = loadWord(p + 4 * i);
        const uint32_t nextStart = size - 64 * (block + 1);
        if (block + 1 < wholeBlocks) {
            md5BlockTwoLanes<true>(stored.state, plain.state, xs, xp, word, nextStart, next);
        } else {
            md5BlockTwoLanes<false>(stored.state, plain.state, xs, xp, word, nextStart, next);
        }
    }
    // Both contexts have taken wholeBlocks * 64 bytes and hold no partial
    // block; the rest goes through md5Update.
    const uint64_t bits = (uint64_t)wholeBlocks * 512u;
    stored.bitCount[0] = plain.bitCount[0] = (uint32_t)bits;
    stored.bitCount[1] = plain.bitCount[1] = (uint32_t)(bits >> 32);

    const uint32_t rest = size % 64;
    md5Update(&stored, p, rest);
    uint32_t n = rest;
    for (uint32_t i = 0; i < rest; i++) p[i] ^= keystreamByte(word, n, key);
    md5Update(&plain, p, rest);
    md5Final(storedDigest, &stored);
    md5Final(plainDigest, &plain);
}

#endif  // !__OPTIMIZE_SIZE__

}  // namespace

void startPackageChain(PackageChain* chain) {
    chain->seed = PACKAGE_SEED;
    zeroBlock(chain->key, 16);
}

void advancePackageChain(PackageChain* chain, const uint8_t storedDigest[16]) {
    copyBlock(chain->key, storedDigest, 16);
    chain->seed = ((chain->seed * chain->seed) << 8) | chain->key[0];
}

int entryInBounds(const PackageEntry* entry, uint32_t packageSize) {
    return (uint64_t)entry->offset + (uint64_t)entry->size <= (uint64_t)packageSize ? 1 : 0;
}

int entryNameLength(const PackageEntry* entry) {
    for (uint32_t i = 0; i < PACKAGE_NAME_SIZE; i++) {
        if (entry->name[i] == 0) return (int)i;
    }
    return -1;
}

int entryNameIsSafe(const PackageEntry* entry) {
    const int length = entryNameLength(entry);
    if (length <= 0) return 0;
    const char* name = entry->name;
    const char* componentStart = name;
    // Steps by characters: the second byte of a double-byte character may
    // be a backslash or a "|" without being one.
    for (int i = 0; i <= length; i += (i < length ? textCharBytes(name + i) : 1)) {
        const char c = name[i];
        if (c == '\\' || c == 0) {
            const char* componentEnd = name + i;
            // Empty components mean a leading backslash, "\\" or a trailing one.
            if (componentEnd == componentStart) return 0;
            // Windows drops trailing dots and blanks, so "..", ". " and "x."
            // would not name what they seem to; "." and ".." end in a dot too.
            const char last = componentEnd[-1];
            if (last == '.' || last == ' ') return 0;
            if (isDeviceName(componentStart, componentEnd)) return 0;
            componentStart = componentEnd + 1;
            continue;
        }
        if (textCharBytes(name + i) == 1 && isForbiddenNameChar((unsigned char)c)) return 0;
    }
    return 1;
}

EntryOutcome unpackEntryInPlace(uint8_t* image, uint32_t imageSize, const PackageEntry* entry, PackageChain* chain) {
    if (!entryInBounds(entry, imageSize)) return ENTRY_OUT_OF_BOUNDS;
    uint8_t* region = image + entry->offset;
    const uint32_t size = entry->size;
    uint8_t storedDigest[16];
    uint8_t plainDigest[16];
    // The MD5 of the bytes as stored (the next key, taken before
    // descrambling, so it does not depend on whether this entry is sound),
    // the descrambled bytes in place, and the MD5 of the result: in one pass
    // over the region, or in three where the build is optimised for size.
#if defined(__OPTIMIZE_SIZE__)
    md5Digest(region, size, storedDigest);
    scramblePackageBytes(chain->seed, region, size, chain->key);
    md5Digest(region, size, plainDigest);
#else
    unpackRegion(region, size, chain->seed, chain->key, storedDigest, plainDigest);
#endif
    advancePackageChain(chain, storedDigest);
    if (size == 0) return ENTRY_EMPTY;
    return blocksEqual(plainDigest, entry->digest, 16) ? ENTRY_OK : ENTRY_DIGEST_MISMATCH;
}

int parsePackageHeader(const uint8_t* image, uint32_t imageSize, PackageHeader* header) {
    if (image == 0 || imageSize <= PACKAGE_HEADER_SIZE) return -1;
    copyBlock(header, image, PACKAGE_HEADER_SIZE);
    return 0;
}

int unpackPackageImage(uint8_t* image, uint32_t imageSize, EntryOutcome outcomes[3]) {
    PackageHeader header;
    if (parsePackageHeader(image, imageSize, &header) != 0) return -1;
    PackageChain chain;
    startPackageChain(&chain);
    int errorCount = 0;
    for (uint32_t i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        const EntryOutcome outcome = unpackEntryInPlace(image, imageSize, &header.entries[i], &chain);
        if (outcomes) outcomes[i] = outcome;
        if (outcome != ENTRY_OK) errorCount++;
    }
    return errorCount ? -100 - errorCount : 0;
}

uint32_t packageSizeFor(const uint32_t sizes[3]) {
    uint64_t total = PACKAGE_HEADER_SIZE;
    for (uint32_t i = 0; i < PACKAGE_ENTRY_COUNT; i++) total += sizes[i];
    return total > 0xFFFFFFFFu ? 0 : (uint32_t)total;
}

int buildPackageImage(const char* const names[3], const uint8_t* const data[3], const uint32_t sizes[3], uint8_t* out,
                      uint32_t outSize) {
    const uint32_t total = packageSizeFor(sizes);
    if (total == 0 || outSize < total) return -1;
    for (uint32_t i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        if (names[i] == 0 || data[i] == 0 || sizes[i] == 0) return -1;
        uint32_t length = 0;
        while (length < PACKAGE_NAME_SIZE && names[i][length] != 0) length++;
        if (length == 0 || length >= PACKAGE_NAME_SIZE) return -1;
    }

    PackageHeader header;
    zeroBlock(&header, sizeof header);
    PackageChain chain;
    startPackageChain(&chain);
    uint32_t position = PACKAGE_HEADER_SIZE;
    for (uint32_t i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        PackageEntry* entry = &header.entries[i];
        uint32_t length = 0;
        while (names[i][length] != 0) length++;
        copyBlock(entry->name, names[i], length);
        entry->offset = position;
        entry->size = sizes[i];
        md5Digest(data[i], sizes[i], entry->digest);

        uint8_t* stored = out + position;
        copyBlock(stored, data[i], sizes[i]);
        scramblePackageBytes(chain.seed, stored, sizes[i], chain.key);
        uint8_t storedDigest[16];
        md5Digest(stored, sizes[i], storedDigest);
        advancePackageChain(&chain, storedDigest);
        position += sizes[i];
    }
    copyBlock(out, &header, PACKAGE_HEADER_SIZE);
    return 0;
}
