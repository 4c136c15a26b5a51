// libFuzzer target over the pure package code and the bounded text operations: whatever the bytes, nothing is read
// or written outside its buffer (ASan, UBSan; each is a heap block of exactly its size), unpacking changes no byte
// outside the in-bounds entries' regions, and each text operation leaves a text ending inside its destination.
#include <algorithm>
#include <vector>

#include "package/package.h"
#include "platform/bounded_text.h"

static void require(bool condition) { condition ? void() : __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image(data, data + size), expected = image;
    EntryOutcome outcomes[3];
    PackageHeader header;
    if (unpackPackageImage(image.data(), (uint32_t)size, outcomes) != -1 &&
        parsePackageHeader(data, (uint32_t)size, &header) == 0) {
        for (int i = 0; i < 3; i++) {
            const PackageEntry& e = header.entries[i];
            entryNameIsSafe(&e);
            if (outcomes[i] != ENTRY_OUT_OF_BOUNDS)
                std::copy_n(image.begin() + e.offset, e.size, expected.begin() + e.offset);
        }
        require(image == expected);
    }
    // The text operations on two texts from the input, into a destination of a size it gives (to past 4096 bytes).
    if (size < 3) return 0;
    const int capacity = 1 + ((data[0] | data[1] << 8) % 4200);
    const size_t split = 2 + data[2] % (size - 2);
    std::vector<char> first(data + 2, data + split + 1), second(size - split + 1), out(capacity, 'x');
    first.back() = 0;
    std::copy(data + split, data + size, second.begin());
    const auto ends = [&](int) { require(textLength(out.data(), capacity) < capacity); };
    ends(textCopy(out.data(), capacity, first.data())), ends(textCopyCut(out.data(), capacity, second.data()));
    ends(textAppend(out.data(), capacity, first.data()));
    ends(textFormat(out.data(), capacity, "%s|%d|%u|%x|%s%%", first.data(), (int)size, (unsigned)split,
                    (unsigned)capacity, second.data()));
    return 0;
}
