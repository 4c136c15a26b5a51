// Writes both fuzzers' seeds into one folder: small packages, sound and with
// each kind of damage; the small sound installer and one executable per kind
// of refusal; and, given a built installer, that file and its own resources
// in a small file.   make_corpus OUT_FOLDER [INSTALLER]
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "tests/support/test_package.h"
#include "tests/support/test_pe.h"
#include "tools/pe_file.h"

using namespace orlotest;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) return std::fprintf(stderr, "usage: make_corpus OUT_FOLDER [INSTALLER]\n"), 2;
    int count = 0;
    bool ok = true;
    const auto save = [&](const Bytes& bytes) {
        std::ofstream out(std::string(argv[1]) + "/seed_" + std::to_string(count++), std::ios::binary);
        ok = out.write((const char*)bytes.data(), (std::streamsize)bytes.size()).flush() && ok;
    };
    const Bytes valid = buildTestPackage(
        {{"Orlocast.exe", patternBytes(61, 1)}, {"readme.txt", patternBytes(17, 2)}, {"a.pdf", patternBytes(33, 3)}});
    const std::function<void(Bytes&)> damages[] = {[](Bytes&) {},
                                                   [](Bytes& p) { entryAt(p, 1)->digest[7] ^= 1; },
                                                   [](Bytes& p) { p[entryAt(p, 1)->offset + 3] ^= 0x40; },
                                                   [](Bytes& p) { entryAt(p, 0)->size = (uint32_t)p.size(); },
                                                   [](Bytes& p) { entryAt(p, 1)->offset = 0xFFFFFFF0u; },
                                                   [](Bytes& p) { entryAt(p, 2)->size = 0xFFFFFFFFu; },
                                                   [](Bytes& p) { entryAt(p, 1)->size = 0; },
                                                   [](Bytes& p) { entryAt(p, 1)->offset = entryAt(p, 0)->offset + 5; },
                                                   [](Bytes& p) { setEntryName(p, 0, std::string(128, 'n')); },
                                                   [](Bytes& p) { p.resize(PACKAGE_HEADER_SIZE + 1); }};
    for (const auto& damage : damages) {
        Bytes p = valid;
        damage(p);
        save(p);
    }
    for (const char* name : {"docs\\readme.txt", "..\\x", "C:\\x", "a:b", "\\x", "a/b", "docs\\CON.txt"}) {
        Bytes p = valid;
        setEntryName(p, 1, name);
        save(p);
    }
    save(buildPe(installerResources(valid)));
    for (const CraftedExecutable& refused : refusedExecutables(valid, false)) save(refused.file);
    std::ifstream in(argc == 3 ? argv[2] : "", std::ios::binary);
    if (in) {  // an installer built in this tree; its background cut to 3x2
        const Bytes real((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<Resource> compact;
        for (const orlo::PeResource& r : orlo::readPeResources(real))
            compact.push_back({r.type, r.id, r.language, r.type == 2 ? dib(3, 2, 24, 24) : r.bytes});
        save(real);
        save(buildPe(compact));
    }
    if (!ok) std::fprintf(stderr, "make_corpus: cannot write the seeds into %s\n", argv[1]);
    return ok ? 0 : 1;
}
