// libFuzzer target over the pure package code and the bounded text
// operations: whatever the bytes, nothing is read or written outside its
// buffer (ASan, UBSan; each buffer is a heap block of exactly its size),
// unpacking changes no byte outside the regions of in-bounds entries, and
// every text operation leaves a text ending inside its destination.
// Long run: docs/hardening.md.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "package/package.h"
#include "platform/bounded_text.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

// The bytes in a heap block of exactly their size, plus a terminator when asked.
char* copyOf(const uint8_t* bytes, size_t size, bool terminated) {
    char* copy = (char*)malloc(size || terminated ? size + terminated : 1);
    if (size) memcpy(copy, bytes, size);
    if (terminated) copy[size] = 0;
    return copy;
}

void fuzzPackage(const uint8_t* data, uint32_t size) {
    uint8_t* image = (uint8_t*)copyOf(data, size, false);
    EntryOutcome outcomes[3];
    PackageHeader header;
    if (unpackPackageImage(image, size, outcomes) != -1 && parsePackageHeader(data, size, &header) == 0) {
        for (const PackageEntry& entry : header.entries) entryNameIsSafe(&entry);
        for (uint32_t at = 0; at < size; at++) {
            bool inRegion = false;
            for (int i = 0; i < 3; i++) {
                const PackageEntry& e = header.entries[i];
                inRegion |= outcomes[i] != ENTRY_OUT_OF_BOUNDS && at >= e.offset && at - e.offset < e.size;
            }
            require(inRegion || image[at] == data[at]);
        }
    }
    free(image);
}

// The input as two source texts and a destination size, up to past the
// 4096-byte limit.
void fuzzText(const uint8_t* data, size_t size) {
    if (size < 3) return;
    const int capacity = 1 + ((data[0] | data[1] << 8) % 4200);
    const size_t split = 2 + data[2] % (size - 2);
    char *first = copyOf(data + 2, split - 2, true), *second = copyOf(data + split, size - split, true);
    char* out = (char*)malloc(capacity);
    const auto ends = [&] { require(textLength(out, capacity) < capacity); };
    textCopy(out, capacity, first);
    ends();
    textCopyCut(out, capacity, second);
    ends();
    textAppend(out, capacity, first);
    ends();
    textFormat(out, capacity, "%s|%d|%u|%x|%s%%", first, (int)size, (unsigned)split, (unsigned)capacity, second);
    ends();
    textEqual(first, second);
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
