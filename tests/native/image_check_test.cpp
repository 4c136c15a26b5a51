// The running-image check against the built installer, loaded here at any
// base as the Windows loader does (address-space layout randomisation moves
// it), then compared with the file and with files changed one field at a
// time.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "package/package.h"
#include "tests/support/test_pe.h"

using namespace orlotest;

namespace {

uint32_t get32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}

struct Section {
    uint32_t address, size, offset, raw, flags;
};

// The installer's file and what its headers say.
struct Pe {
    Bytes file;
    uint32_t header = 0, base = 0, imageSize = 0, headerSize = 0;
    std::vector<Section> sections;
    uint32_t directory(int index, int field = 0) const { return get32(file, header + 24 + 96 + 8 * index + 4 * field); }
    // The file offset of an address.
    size_t offsetOf(uint32_t address) const {
        for (const Section& s : sections)
            if (address >= s.address && address < s.address + s.raw) return s.offset + (address - s.address);
        ADD_FAILURE() << "no section holds " << address;
        return 0;
    }
    const Section& named(const char* name) const {
        for (size_t i = 0; i < sections.size(); i++)
            if (memcmp(&file[header + 248 + 40 * i], name, strlen(name)) == 0) return sections[i];
        ADD_FAILURE() << "no section " << name;
        return sections[0];
    }
};

Pe readInstaller() {
    Pe pe;
    std::ifstream in(ORLO_INSTALLER_PATH, std::ios::binary);
    pe.file.assign(std::istreambuf_iterator<char>(in), {});
    if (pe.file.size() < 0x400) return pe;
    pe.header = get32(pe.file, 0x3C);
    pe.base = get32(pe.file, pe.header + 52);
    pe.imageSize = get32(pe.file, pe.header + 80);
    pe.headerSize = get32(pe.file, pe.header + 84);
    for (uint32_t i = 0; i < (pe.file[pe.header + 6] | pe.file[pe.header + 7] << 8); i++) {
        const size_t s = pe.header + 248 + 40 * i;
        pe.sections.push_back({get32(pe.file, s + 12), get32(pe.file, s + 8), get32(pe.file, s + 20),
                               get32(pe.file, s + 16), get32(pe.file, s + 36)});
    }
    return pe;
}

// The image as the loader maps it at base: headers, each section's bytes,
// every relocated place moved, the import address table filled with the
// functions' addresses (it lies in the read-only .text); the header's
// ImageBase rewritten or not.
Bytes load(const Pe& pe, uint32_t base, bool writeBase) {
    Bytes image(pe.imageSize, 0);
    std::copy(pe.file.begin(), pe.file.begin() + pe.headerSize, image.begin());
    for (const Section& s : pe.sections)
        std::copy(pe.file.begin() + s.offset, pe.file.begin() + s.offset + std::min(s.raw, s.size ? s.size : s.raw),
                  image.begin() + s.address);
    const uint32_t relocations = pe.directory(5), end = relocations + pe.directory(5, 1);
    for (uint32_t block = relocations; block < end; block += get32(image, block + 4))
        for (uint32_t e = block + 8; e < block + get32(image, block + 4); e += 2) {
            const uint32_t entry = image[e] | image[e + 1] << 8, place = get32(image, block) + (entry & 0xFFF);
            if (entry >> 12 == 3) put32(image, place, get32(image, place) + (base - pe.base));
        }
    for (uint32_t slot = pe.directory(12); slot < pe.directory(12) + pe.directory(12, 1); slot += 4)
        if (get32(image, slot) != 0) put32(image, slot, 0x77E10000 + slot);
    if (writeBase) put32(image, pe.header + 52, base);
    return image;
}

int readFrom(void* context, uint32_t offset, void* buffer, uint32_t count) {
    const Bytes& file = *(const Bytes*)context;
    if (offset > file.size() || count > file.size() - offset) return 0;
    memcpy(buffer, file.data() + offset, count);
    return 1;
}

TEST(ImageCheck, TheLoadedInstallerMatchesItsFileAndNoOther) {
    const Pe pe = readInstaller();
    if (pe.file.empty()) GTEST_SKIP() << "no cross-built installer at " << ORLO_INSTALLER_PATH;
    ASSERT_NE(0u, pe.directory(5)) << "the installer keeps its relocations";
    const size_t text = pe.named(".text").offset;
    const size_t resources = pe.offsetOf(pe.directory(2)) + pe.directory(2, 1) - 1;
    // The address table, and the first imported name, which follows it.
    const size_t table = pe.offsetOf(pe.directory(12)), names = table + pe.directory(12, 1) + 2;
    // The first relocated place in code, and the header field of .text's flags.
    const size_t place = pe.offsetOf(
        get32(pe.file, pe.offsetOf(pe.directory(5))) +
        ((pe.file[pe.offsetOf(pe.directory(5)) + 8] | pe.file[pe.offsetOf(pe.directory(5)) + 9] << 8) & 0xFFF));
    const size_t textFlags = pe.header + 248 + 36;
    typedef std::function<void(Bytes&)> Change;
    // clang-format off
    const struct {
        const char* what;
        Change change;
        int matches;
    } cases[] = {
        {"the file itself", [](Bytes&) {}, 1},
        {"a signature appended", [](Bytes& f) { f.insert(f.end(), 1852, 0x30); }, 1},
        {"the address table the loader fills", [&](Bytes& f) { f[table + 1] ^= 1; }, 1},
        {"a byte of code", [&](Bytes& f) { f[text + 100] ^= 1; }, 0},
        {"a relocated place", [&](Bytes& f) { put32(f, place, get32(f, place) + 0x1000); }, 0},
        {"a byte of the resources", [&](Bytes& f) { f[resources] ^= 1; }, 0},
        {"an imported name", [&](Bytes& f) { f[names] ^= 1; }, 0},
        {"code made writable", [&](Bytes& f) { f[textFlags + 3] |= 0x80; }, 0},
        {"another ImageBase", [&](Bytes& f) { put32(f, pe.header + 52, pe.base + 0x10000); }, 0},
        {"cut inside the last section", [&](Bytes& f) { f.resize(pe.sections.back().offset + pe.sections.back().size - 1); }, 0},
        {"only the headers", [&](Bytes& f) { f.resize(pe.headerSize); }, 0},
    };
    // clang-format on
    const struct {
        uint32_t base;
        bool writeBase;
    } loads[] = {{pe.base, false}, {0x10000000, true}, {0x00A30000, false}, {0x7F000000, true}};
    for (const auto& l : loads) {
        const Bytes image = load(pe, l.base, l.writeBase);
        for (const auto& c : cases) {
            Bytes file = pe.file;
            c.change(file);
            EXPECT_EQ(c.matches, imageMatchesFile(image.data(), l.base, readFrom, &file))
                << c.what << ", loaded at " << std::hex << l.base;
        }
    }
    // The image's own tables are what the check trusts: a damaged one refuses.
    Bytes image = load(pe, 0x10000000, true);
    put32(image, pe.directory(5) + 4, 2);  // a relocation block of 2 bytes
    Bytes file = pe.file;
    EXPECT_EQ(0, imageMatchesFile(image.data(), 0x10000000, readFrom, &file));
}

}  // namespace
