// The package format as pure code over bytes held in memory: header parsing,
// the key chain, the bounds test, name checks, verification and building.
#include "package/package.h"

namespace {

inline char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

// True when the component [begin, end) is a DOS device name such as CON or
// COM1, with or without an extension: Windows opens the device, not a file.
bool isDeviceName(const char* begin, const char* end) {
    const char* dot = begin;
    while (dot < end && *dot != '.') dot++;
    const int length = (int)(dot - begin);
    char base[5] = {0};
    if (length < 3 || length > 4) return false;
    for (int i = 0; i < length; i++) base[i] = asciiUpper(begin[i]);
    static const char* const threeLetter[] = {"CON", "PRN", "AUX", "NUL"};
    if (length == 3) {
        for (const char* name : threeLetter) {
            if (blocksEqual(base, name, 3)) return true;
        }
        return false;
    }
    const bool numbered = (blocksEqual(base, "COM", 3) || blocksEqual(base, "LPT", 3));
    return numbered && base[3] >= '1' && base[3] <= '9';
}

bool isForbiddenNameChar(unsigned char c) {
    if (c < 32 || c == 127) return true;
    switch (c) {
        case '<': case '>': case ':': case '"': case '/': case '|': case '?': case '*':
            return true;
        default:
            return false;
    }
}

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
    for (int i = 0; i <= length; i++) {
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
        if (isForbiddenNameChar((unsigned char)c)) return 0;
    }
    return 1;
}

EntryOutcome unpackEntryInPlace(uint8_t* image, uint32_t imageSize, const PackageEntry* entry,
                                PackageChain* chain) {
    if (!entryInBounds(entry, imageSize)) return ENTRY_OUT_OF_BOUNDS;
    uint8_t* region = image + entry->offset;
    const uint32_t size = entry->size;
    uint8_t storedDigest[16];
    uint8_t plainDigest[16];
    // The next key is the digest of the bytes as stored, taken before
    // descrambling, so it does not depend on whether this entry is sound.
    md5Digest(region, size, storedDigest);
    scramblePackageBytes(chain->seed, region, size, chain->key);
    md5Digest(region, size, plainDigest);
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

int buildPackageImage(const char* const names[3], const uint8_t* const data[3],
                      const uint32_t sizes[3], uint8_t* out, uint32_t outSize) {
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
