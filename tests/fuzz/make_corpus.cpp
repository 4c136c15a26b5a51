// Writes the fuzzers' seeds into the build tree.
//   make_corpus package OUT_FOLDER   small packages: valid, and one per damage
//   make_corpus exe OUT_FOLDER [INSTALLER]
//       small installers: a sound one and one per kind of refusal; with a
//       built installer, that file and a compact copy of its resources
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/test_package.h"
#include "tests/support/test_pe.h"
#include "tools/pe_file.h"

using namespace orlotest;

namespace {

std::vector<TestFile> smallFiles() {
    return {{"Orlocast.exe", patternBytes(61, 1)}, {"readme.txt", patternBytes(17, 2)},
            {"OrloCastOnTheShow.pdf", patternBytes(33, 3)}};
}

bool save(const std::string& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen((folder + "/" + name).c_str(), "wb");
    if (!file) return false;
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

bool packageSeeds(const std::string& out, const Bytes& valid) {
    std::vector<TestFile> nested = smallFiles();
    nested[1].name = "docs\\readme.txt";
    bool ok = save(out, "valid", valid) && save(out, "valid_subfolder", buildTestPackage(nested));
    struct Damage {
        const char* name;
        void (*apply)(Bytes& image);
    };
    const Damage damages[] = {
        {"digest_flipped", [](Bytes& p) { entryAt(p, 1)->digest[7] ^= 1; }},
        {"stored_byte_flipped", [](Bytes& p) { p[entryAt(p, 1)->offset + 3] ^= 0x40; }},
        {"out_of_bounds", [](Bytes& p) { entryAt(p, 0)->size = (uint32_t)p.size(); }},
        {"offset_wraps", [](Bytes& p) { entryAt(p, 1)->offset = 0xFFFFFFF0u; entryAt(p, 1)->size = 0x20; }},
        {"size_wraps", [](Bytes& p) { entryAt(p, 2)->size = 0xFFFFFFFFu; }},
        {"size_zero", [](Bytes& p) { entryAt(p, 1)->size = 0; }},
        {"overlapping", [](Bytes& p) { entryAt(p, 1)->offset = entryAt(p, 0)->offset + 5; }},
        {"name_dotdot", [](Bytes& p) { setEntryName(p, 1, "..\\escaped.txt"); }},
        {"name_drive", [](Bytes& p) { setEntryName(p, 1, "C:\\escaped.txt"); }},
        {"name_colon", [](Bytes& p) { setEntryName(p, 1, "readme.txt:stream"); }},
        {"name_leading_backslash", [](Bytes& p) { setEntryName(p, 1, "\\escaped.txt"); }},
        {"name_forward_slash", [](Bytes& p) { setEntryName(p, 1, "docs/readme.txt"); }},
        {"name_device", [](Bytes& p) { setEntryName(p, 1, "docs\\CON.txt"); }},
        {"name_unterminated", [](Bytes& p) { setEntryName(p, 0, std::string(128, 'n')); }},
        {"header_only", [](Bytes& p) { p.resize(PACKAGE_HEADER_SIZE); }},
        {"header_and_one_byte", [](Bytes& p) { p.resize(PACKAGE_HEADER_SIZE + 1); }},
    };
    for (const Damage& damage : damages) {
        Bytes image = valid;
        damage.apply(image);
        ok = ok && save(out, damage.name, image);
    }
    return ok;
}

bool executableSeeds(const std::string& out, const Bytes& package, const char* installer) {
    bool ok = save(out, "package", package) && save(out, "sound", buildPe(installerResources(package)).file);
    const std::vector<CraftedExecutable> refused = refusedExecutables(package, false);
    for (size_t i = 0; i < refused.size(); i++) ok = ok && save(out, "refused_" + std::to_string(i), refused[i].file);
    std::ifstream in(installer ? installer : "", std::ios::binary);
    if (!in) return ok;  // no installer built in this tree
    const Bytes real((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Its own resources in a small file: the background cut to 3x2.
    std::vector<Resource> compact;
    for (const orlo::PeResource& r : orlo::readPeResources(real))
        compact.push_back({r.type, r.id, r.language, r.type == 2 ? dib(3, 2, 24, 0, 24) : r.bytes});
    return ok && save(out, "installer", real) && save(out, "installer_compact", buildPe(compact).file);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc >= 3 ? argv[1] : "";
    if ((mode != "package" || argc != 3) && (mode != "exe" || argc > 4)) {
        fprintf(stderr, "usage: make_corpus package|exe OUT_FOLDER [INSTALLER]\n");
        return 2;
    }
    const Bytes valid = buildTestPackage(smallFiles());
    const bool ok = mode == "package" ? packageSeeds(argv[2], valid) : executableSeeds(argv[2], valid, argc == 4 ? argv[3] : nullptr);
    if (!ok) fprintf(stderr, "make_corpus: cannot write the seeds into %s\n", argv[2]);
    return ok ? 0 : 1;
}
