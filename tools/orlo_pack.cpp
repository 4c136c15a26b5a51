// orlo-pack: builds, inspects, verifies and extracts installer packages.
//
//   orlo-pack build -o OUT NAME=PATH NAME=PATH NAME=PATH
//   orlo-pack inspect FILE
//   orlo-pack verify FILE
//   orlo-pack extract FILE DIR
//   orlo-pack package -o OUT FILE     (the package FILE holds, byte for byte)
//
// FILE is a package or a finished installer (.exe), whose package is its
// resource RT_RCDATA 100. Exit codes: 0 success; 1 a check failed (verify:
// an entry; extract: an entry not written, the others still are); 2 bad
// usage, input that cannot be read or is refused whole, or an output that
// cannot be created. The commands live in orlo_pack_lib.cpp.
#include <string>
#include <vector>

#include "tools/orlo_pack_lib.h"

int main(int argc, char** argv) { return orlo::runOrloPack(std::vector<std::string>(argv + 1, argv + argc)); }
