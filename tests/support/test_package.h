// Builds packages in memory for tests, valid or with a chosen damage.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "package/package.h"

namespace orlotest {

struct TestFile {
    std::string name;
    std::vector<uint8_t> bytes;
};

inline std::vector<uint8_t> patternBytes(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; i++) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = (uint8_t)(seed >> 24);
    }
    return bytes;
}

inline std::vector<TestFile> sampleFiles() {
    return {{"Orlocast.exe", patternBytes(3001, 1)},
            {"readme.txt", patternBytes(517, 2)},
            {"OrloCastOnTheShow.pdf", patternBytes(1290, 3)}};
}

inline std::vector<uint8_t> buildTestPackage(const std::vector<TestFile>& files) {
    const char* names[3];
    const uint8_t* data[3];
    uint32_t sizes[3];
    for (int i = 0; i < 3; i++) {
        names[i] = files[i].name.c_str();
        data[i] = files[i].bytes.data();
        sizes[i] = (uint32_t)files[i].bytes.size();
    }
    std::vector<uint8_t> image(packageSizeFor(sizes));
    if (buildPackageImage(names, data, sizes, image.data(), (uint32_t)image.size()) != 0) image.clear();
    return image;
}

inline PackageEntry* entryAt(std::vector<uint8_t>& image, int index) {
    return reinterpret_cast<PackageEntry*>(image.data() + 156 * index);
}

// Sets entry `index`'s name field to exactly these bytes (no terminator added
// beyond what fits), keeping the rest of the field zero.
inline void setEntryName(std::vector<uint8_t>& image, int index, const std::string& name) {
    PackageEntry* entry = entryAt(image, index);
    memset(entry->name, 0, sizeof entry->name);
    memcpy(entry->name, name.data(), name.size() < 128 ? name.size() : 128);
}

}  // namespace orlotest
