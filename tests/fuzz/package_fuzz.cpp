// libFuzzer target over the pure package code and the bounded text
// operations: whatever the bytes, nothing reads or writes outside its buffer
// (AddressSanitizer, UBSan), and every result keeps its documented meaning.
//
// Build and long run: docs/hardening.md.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "package/package.h"
#include "platform/bounded_text.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

// The name rule restated independently: a safe name never leaves the folder.
void checkNameVerdict(const PackageEntry* entry) {
    const int length = entryNameLength(entry);
    const int terminated = memchr(entry->name, 0, PACKAGE_NAME_SIZE) != 0;
    require(terminated ? length == (int)strnlen(entry->name, PACKAGE_NAME_SIZE) : length == -1);
    if (!entryNameIsSafe(entry)) return;
    const char* name = entry->name;
    require(length >= 1 && length <= 127);
    require(name[0] != '\\' && name[length - 1] != '\\');
    require(strchr(name, ':') == 0 && strchr(name, '/') == 0);
    require(strstr(name, "\\\\") == 0 && strpbrk(name, "<>\"|?*") == 0);
    // No component is "." or "..", nor ends in a dot or blank.
    const char* start = name;
    for (const char* p = name;; p++) {
        if (*p == '\\' || *p == 0) {
            require(p > start && p[-1] != '.' && p[-1] != ' ');
            if (*p == 0) break;
            start = p + 1;
        }
        require((unsigned char)*p >= 32 || *p == 0);
    }
}

// A heap copy of exactly `size` bytes, so that the sanitizer sees any
// access one byte too far.
uint8_t* exactCopy(const uint8_t* data, size_t size) {
    uint8_t* copy = (uint8_t*)malloc(size ? size : 1);
    if (size) memcpy(copy, data, size);
    return copy;
}

// The bytes as a terminated text in a heap block of exactly length + 1 bytes.
char* textOf(const uint8_t* bytes, size_t length) {
    char* text = (char*)malloc(length + 1);
    memcpy(text, bytes, length);
    text[length] = 0;
    return text;
}

// The documented steps, one primitive at a time (MD5 of the stored bytes,
// descrambling, MD5 of the plain bytes, chain advanced after every entry in
// bounds): what unpackPackageImage must agree with byte for byte.
void referenceUnpack(uint8_t* image, uint32_t size, const PackageHeader* header, EntryOutcome outcomes[3]) {
    PackageChain chain;
    startPackageChain(&chain);
    for (int i = 0; i < 3; i++) {
        const PackageEntry* entry = &header->entries[i];
        if ((uint64_t)entry->offset + entry->size > size) {
            outcomes[i] = ENTRY_OUT_OF_BOUNDS;
            continue;
        }
        uint8_t stored[16], plain[16];
        md5Digest(image + entry->offset, entry->size, stored);
        scramblePackageBytes(chain.seed, image + entry->offset, entry->size, chain.key);
        md5Digest(image + entry->offset, entry->size, plain);
        advancePackageChain(&chain, stored);
        outcomes[i] = entry->size == 0 ? ENTRY_EMPTY
                                       : (memcmp(plain, entry->digest, 16) == 0 ? ENTRY_OK : ENTRY_DIGEST_MISMATCH);
    }
}

void fuzzPackage(const uint8_t* data, uint32_t size) {
    PackageHeader header;
    const int parsed = parsePackageHeader(data, size, &header);
    require(parsed == (size > PACKAGE_HEADER_SIZE ? 0 : -1));

    uint8_t* image = exactCopy(data, size);
    EntryOutcome outcomes[3] = {ENTRY_OK, ENTRY_OK, ENTRY_OK};
    const int result = unpackPackageImage(image, size, outcomes);
    if (parsed != 0) {
        require(result == -1);
        free(image);
        return;
    }
    int failed = 0;
    for (int i = 0; i < 3; i++) {
        const PackageEntry* entry = &header.entries[i];
        const bool inBounds = (uint64_t)entry->offset + entry->size <= size;
        require(entryInBounds(entry, size) == (inBounds ? 1 : 0));
        require(inBounds || outcomes[i] == ENTRY_OUT_OF_BOUNDS);
        require(!inBounds || outcomes[i] != ENTRY_OUT_OF_BOUNDS);
        require(entry->size != 0 || !inBounds || outcomes[i] == ENTRY_EMPTY);
        if (outcomes[i] != ENTRY_OK) failed++;
        checkNameVerdict(entry);
    }
    require(result == (failed ? -100 - failed : 0));
    uint8_t* expected = exactCopy(data, size);
    EntryOutcome expectedOutcomes[3];
    referenceUnpack(expected, size, &header, expectedOutcomes);
    require(memcmp(outcomes, expectedOutcomes, sizeof outcomes) == 0);
    require(memcmp(image, expected, size) == 0);
    free(expected);
    // Bytes outside every in-bounds region are never touched.
    for (uint32_t position = 0; position < size; position++) {
        bool inRegion = false;
        for (int i = 0; i < 3; i++) {
            const PackageEntry* entry = &header.entries[i];
            if (outcomes[i] != ENTRY_OUT_OF_BOUNDS && position >= entry->offset &&
                (uint64_t)position < (uint64_t)entry->offset + entry->size)
                inRegion = true;
        }
        if (!inRegion) require(image[position] == data[position]);
    }
    free(image);
}

// The text operations with the input as source texts and a destination
// size taken from the input, up to past the 4096-byte limit.
void fuzzText(const uint8_t* data, size_t size) {
    if (size < 3) return;
    const int destinationSize = 1 + ((data[0] | (data[1] << 8)) % 4200);
    const size_t split = 2 + data[2] % (size - 2);
    char* first = textOf(data + 2, split - 2);
    char* second = textOf(data + split, size - split);

    char* out = (char*)malloc(destinationSize);
    const int copied = textCopy(out, destinationSize, first);
    require(copied == (strlen(first) < (size_t)destinationSize) && (copied ? strcmp(out, first) == 0 : out[0] == 0));
    const int cut = textCopyCut(out, destinationSize, second);
    require((size_t)textLength(out, destinationSize) < (size_t)destinationSize);
    require(cut == (strlen(second) < (size_t)destinationSize));
    const size_t before = strlen(out);
    const int appended = textAppend(out, destinationSize, first);
    require(appended == (before + strlen(first) < (size_t)destinationSize));
    require(strlen(out) == (appended ? before + strlen(first) : before));
    // The second text is used as data only; the format is fixed.
    const int formatted = textFormat(out, destinationSize, "%s|%d|%u|%x|%s%%", first, (int)size, (unsigned)split,
                                     (unsigned)destinationSize, second);
    require((size_t)textLength(out, destinationSize) < (size_t)destinationSize);
    require(formatted == 0 || formatted == 1);
    require(textEqual(first, first) == 1);
    free(out);
    free(first);
    free(second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x100000) return 0;
    fuzzPackage(data, (uint32_t)size);
    fuzzText(data, size);
    return 0;
}
