// Writes the fuzzer's seed corpus: small valid packages and one package of
// each damage class. Run once; the files are kept in tests/fuzz/corpus.
//   make_corpus OUT_FOLDER
#include <cstdio>
#include <string>

#include "tests/support/test_package.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_corpus OUT_FOLDER\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::vector<uint8_t> valid = buildTestPackage(smallFiles());
    if (valid.empty()) return 1;
    bool ok = save(out, "valid", valid);

    std::vector<TestFile> nested = smallFiles();
    nested[1].name = "docs\\readme.txt";
    ok = ok && save(out, "valid_subfolder", buildTestPackage(nested));

    struct Damage {
        const char* name;
        void (*apply)(std::vector<uint8_t>& image);
    };
    const Damage damages[] = {
        {"digest_flipped", [](std::vector<uint8_t>& p) { entryAt(p, 1)->digest[7] ^= 1; }},
        {"stored_byte_flipped", [](std::vector<uint8_t>& p) { p[entryAt(p, 1)->offset + 3] ^= 0x40; }},
        {"out_of_bounds", [](std::vector<uint8_t>& p) { entryAt(p, 0)->size = (uint32_t)p.size(); }},
        {"offset_wraps", [](std::vector<uint8_t>& p) { entryAt(p, 1)->offset = 0xFFFFFFF0u; entryAt(p, 1)->size = 0x20; }},
        {"size_wraps", [](std::vector<uint8_t>& p) { entryAt(p, 2)->size = 0xFFFFFFFFu; }},
        {"size_zero", [](std::vector<uint8_t>& p) { entryAt(p, 1)->size = 0; }},
        {"overlapping", [](std::vector<uint8_t>& p) { entryAt(p, 1)->offset = entryAt(p, 0)->offset + 5; }},
        {"name_dotdot", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "..\\escaped.txt"); }},
        {"name_drive", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "C:\\escaped.txt"); }},
        {"name_colon", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "readme.txt:stream"); }},
        {"name_leading_backslash", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "\\escaped.txt"); }},
        {"name_forward_slash", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "docs/readme.txt"); }},
        {"name_device", [](std::vector<uint8_t>& p) { setEntryName(p, 1, "docs\\CON.txt"); }},
        {"name_unterminated", [](std::vector<uint8_t>& p) { setEntryName(p, 0, std::string(128, 'n')); }},
        {"header_only", [](std::vector<uint8_t>& p) { p.resize(PACKAGE_HEADER_SIZE); }},
        {"header_and_one_byte", [](std::vector<uint8_t>& p) { p.resize(PACKAGE_HEADER_SIZE + 1); }},
    };
    for (const Damage& damage : damages) {
        std::vector<uint8_t> image = valid;
        damage.apply(image);
        ok = ok && save(out, damage.name, image);
    }
    return ok ? 0 : 1;
}
