// libFuzzer target over the pure package code: whatever the bytes, nothing is read or written outside the image (ASan,
// UBSan; a heap block of exactly its size), and unpacking changes no byte outside the in-bounds entries' regions.
#include <algorithm>
#include <vector>

#include "package/package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size), expected = image;
    EntryOutcome outcomes[3];
    PackageHeader header;
    if (unpackPackageImage(image.data(), (uint32_t)size, outcomes) == -1 ||
        parsePackageHeader(data, (uint32_t)size, &header) != 0)
        return 0;
    for (int i = 0; i < 3; i++) {
        const PackageEntry& e = header.entries[i];
        entryNameIsSafe(&e);
        if (outcomes[i] != ENTRY_OUT_OF_BOUNDS)
            std::copy_n(image.begin() + e.offset, e.size, expected.begin() + e.offset);
    }
    if (image != expected) __builtin_trap();
    return 0;
}
