#include "tools/pe_file.h"

#include <functional>

namespace orlo {
namespace {

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t u16(uint64_t at) const {
        need(at, 2);
        return bytes_[at] | (bytes_[at + 1] << 8);
    }
    uint32_t u32(uint64_t at) const {
        need(at, 4);
        return (uint32_t)bytes_[at] | ((uint32_t)bytes_[at + 1] << 8) | ((uint32_t)bytes_[at + 2] << 16) |
               ((uint32_t)bytes_[at + 3] << 24);
    }
    void need(uint64_t at, uint64_t count) const {
        if (at + count > bytes_.size()) throw PeError("PE file is truncated");
    }

private:
    const std::vector<uint8_t>& bytes_;
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

}  // namespace

bool looksLikePe(const std::vector<uint8_t>& file) {
    return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z';
}

std::vector<PeResource> readPeResources(const std::vector<uint8_t>& file) {
    const Reader r(file);
    if (!looksLikePe(file)) throw PeError("not a PE file (no MZ signature)");
    const uint32_t peOffset = r.u32(0x3C);
    if (r.u32(peOffset) != 0x00004550) throw PeError("not a PE file (no PE signature)");
    const uint64_t coff = peOffset + 4;
    const uint32_t sectionCount = r.u16(coff + 2);
    const uint32_t optionalSize = r.u16(coff + 16);
    const uint64_t optional = coff + 20;
    const uint32_t magic = r.u16(optional);
    uint64_t directories;
    uint32_t directoryCount;
    if (magic == 0x10B) {
        directoryCount = r.u32(optional + 92);
        directories = optional + 96;
    } else if (magic == 0x20B) {
        directoryCount = r.u32(optional + 108);
        directories = optional + 112;
    } else {
        throw PeError("PE optional header has an unknown magic number");
    }
    if (directoryCount < 3) return {};
    const uint32_t resourceRva = r.u32(directories + 2 * 8);
    if (resourceRva == 0) return {};

    std::vector<Section> sections;
    const uint64_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; i++) {
        const uint64_t s = table + 40ull * i;
        sections.push_back({r.u32(s + 12), r.u32(s + 8), r.u32(s + 20), r.u32(s + 16)});
    }
    auto rvaToOffset = [&](uint32_t rva, uint32_t count) -> uint64_t {
        for (const Section& s : sections) {
            const uint64_t span = std::max(s.virtualSize, s.rawSize);
            if (rva >= s.virtualAddress && (uint64_t)rva + count <= s.virtualAddress + span) {
                const uint64_t offset = (uint64_t)s.rawOffset + (rva - s.virtualAddress);
                if ((uint64_t)rva + count > (uint64_t)s.virtualAddress + s.rawSize)
                    throw PeError("resource data lies outside its section's file bytes");
                r.need(offset, count);
                return offset;
            }
        }
        throw PeError("resource address lies in no section");
    };
    const uint64_t root = rvaToOffset(resourceRva, 16);

    std::vector<PeResource> found;
    // Walks type / id / language directories; offsets are relative to root.
    std::function<void(uint64_t, int, PeResource)> walk = [&](uint64_t dir, int level, PeResource current) {
        if (level > 2) throw PeError("resource tree is nested too deeply");
        const uint32_t named = r.u16(dir + 12);
        const uint32_t ids = r.u16(dir + 14);
        for (uint32_t i = 0; i < named + ids; i++) {
            const uint64_t entry = dir + 16 + 8ull * i;
            const uint32_t nameField = r.u32(entry);
            const uint32_t dataField = r.u32(entry + 4);
            if (nameField & 0x80000000u) continue;  // named resources are not ours
            PeResource next = current;
            if (level == 0) next.type = nameField;
            if (level == 1) next.id = nameField;
            if (level == 2) next.language = nameField;
            if (dataField & 0x80000000u) {
                if (level == 2) throw PeError("resource tree has a directory below a language");
                walk(root + (dataField & 0x7FFFFFFFu), level + 1, next);
            } else {
                if (level != 2) throw PeError("resource tree has data above the language level");
                const uint64_t dataEntry = root + dataField;
                const uint32_t rva = r.u32(dataEntry);
                const uint32_t size = r.u32(dataEntry + 4);
                const uint64_t at = rvaToOffset(rva, size);
                next.bytes.assign(file.begin() + at, file.begin() + at + size);
                found.push_back(std::move(next));
            }
        }
    };
    walk(root, 0, PeResource{});
    return found;
}

std::optional<PeResource> findPeResource(const std::vector<uint8_t>& file, uint32_t type, uint32_t id) {
    for (PeResource& resource : readPeResources(file)) {
        if (resource.type == type && resource.id == id) return std::move(resource);
    }
    return std::nullopt;
}

}  // namespace orlo
