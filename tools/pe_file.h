// Reading resources out of a Windows PE file (32- or 64-bit) on any host.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlo {

struct PeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PeResource {
    uint32_t type = 0;
    uint32_t id = 0;        // integer identifier (named resources are skipped)
    uint32_t language = 0;
    std::vector<uint8_t> bytes;
};

// True when the bytes start like a PE image ("MZ").
bool looksLikePe(const std::vector<uint8_t>& file);

// Every integer-identified resource of the file. Throws PeError when the file
// is not a well-formed PE image or its resource tree is damaged.
std::vector<PeResource> readPeResources(const std::vector<uint8_t>& file);

// The first resource of that type and id, in any language.
std::optional<PeResource> findPeResource(const std::vector<uint8_t>& file, uint32_t type, uint32_t id);

}  // namespace orlo
