// make_corpus OUT_FOLDER [INSTALLER]: both fuzzers' seeds: small packages, sound and damaged; the small sound
// installer and one executable per kind of refusal; a built installer and its own resources in a small file.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/support/test_package.h"
#include "tests/support/test_pe.h"
#include "tools/pe_file.h"

using namespace orlotest;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) return std::fprintf(stderr, "usage: make_corpus OUT_FOLDER [INSTALLER]\n"), 2;
    const Bytes valid = buildTestPackage(
        {{"Orlocast.exe", patternBytes(61, 1)}, {"readme.txt", patternBytes(17, 2)}, {"a.pdf", patternBytes(33, 3)}});
    std::vector<Bytes> seeds(17, valid);
    entryAt(seeds[1], 1)->digest[7] ^= 1;
    seeds[2][entryAt(seeds[2], 1)->offset + 3] ^= 0x40;
    entryAt(seeds[3], 0)->size = (uint32_t)valid.size();  // past the end
    entryAt(seeds[4], 1)->offset = 0xFFFFFFF0u;           // wraps
    entryAt(seeds[5], 2)->size = 0xFFFFFFFFu;
    entryAt(seeds[6], 1)->size = 0;
    entryAt(seeds[7], 1)->offset = entryAt(seeds[7], 0)->offset + 5;  // overlapping
    seeds[8].resize(PACKAGE_HEADER_SIZE + 1);
    setEntryName(seeds[9], 0, std::string(128, 'n'));  // no terminator
    int next = 10;
    for (const char* name : {"docs\\readme.txt", "..\\x", "C:\\x", "a:b", "\\x", "a/b", "docs\\CON.txt"})
        setEntryName(seeds[next++], 1, name);
    seeds.push_back(buildPe(installerResources(valid)));
    for (const CraftedExecutable& refused : refusedExecutables(valid, false)) seeds.push_back(std::get<1>(refused));
    std::ifstream in(argc == 3 ? argv[2] : "", std::ios::binary);
    if (in) {  // an installer built in this tree, and its resources with the background cut to 3x2
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::vector<Resource> compact;
        for (const orlo::PeResource& r : orlo::readPeResources(seeds.back()))
            compact.push_back({r.type, r.id, r.language, r.type == 2 ? dib(3, 2, 24, 24) : r.bytes});
        seeds.push_back(buildPe(compact));
    }
    for (size_t i = 0; i < seeds.size(); i++) {
        std::ofstream out(std::string(argv[1]) + "/seed_" + std::to_string(i), std::ios::binary);
        if (!out.write((const char*)seeds[i].data(), (std::streamsize)seeds[i].size()).flush())
            return std::fprintf(stderr, "make_corpus: cannot write the seeds into %s\n", argv[1]), 1;
    }
    return 0;
}
