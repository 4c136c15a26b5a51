// make_corpus OUT_FOLDER [INSTALLER]: both fuzzers' seeds: a small package, also with names the installer refuses (the
// fuzzer finds damaged regions and digests by itself); the small sound installer and one executable per kind of
// refusal; an installer built in this tree.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/support/test_package.h"
#include "tests/support/test_pe.h"

using namespace orlotest;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) return std::fprintf(stderr, "usage: make_corpus OUT_FOLDER [INSTALLER]\n"), 2;
    const Bytes valid = buildTestPackage(
        {{"Orlocast.exe", patternBytes(61, 1)}, {"readme.txt", patternBytes(17, 2)}, {"a.pdf", patternBytes(33, 3)}});
    std::vector<Bytes> seeds = {valid, soundInstaller(valid)};
    setEntryName(seeds.emplace_back(valid), 0, std::string(128, 'n'));  // no terminator
    for (const char* name : {"docs\\readme.txt", "..\\x", "C:\\x", "a:b", "\\x", "a/b", "docs\\CON.txt"})
        setEntryName(seeds.emplace_back(valid), 1, name);
    for (const CraftedExecutable& refused : refusedExecutables(valid)) seeds.push_back(std::get<1>(refused));
    std::ifstream in(argc == 3 ? argv[2] : "", std::ios::binary);
    if (in) seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    for (size_t i = 0; i < seeds.size(); i++) {
        std::ofstream out(std::string(argv[1]) + "/seed_" + std::to_string(i), std::ios::binary);
        if (!out.write((const char*)seeds[i].data(), (std::streamsize)seeds[i].size()).flush())
            return std::fprintf(stderr, "make_corpus: cannot write the seeds into %s\n", argv[1]), 1;
    }
    return 0;
}
