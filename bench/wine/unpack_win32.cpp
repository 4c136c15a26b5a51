// The extraction core built for i686 with MinGW-w64, timed under Wine:
// unpackPackageImage on a fresh copy of a package of the sizes in use,
// against the straightforward order (md5Digest, scramblePackageBytes,
// md5Digest per entry) and one md5Digest pass. Built twice by
// scripts/bench.sh: with -Os, as the installer is (which keeps the three
// passes), and with -O2 (the single pass). FLAVOUR names the build in the
// output, one line per figure:
//   win32_<FLAVOUR>_<name> runs=<n> median_ms=... min_ms=... max_ms=...
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "package/package.h"

namespace {

const uint32_t SIZES[3] = {2227736, 5054, 453201};
const int RUNS = 15;

double nowMs() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

int unpackStraightforward(uint8_t* image, uint32_t imageSize) {
    PackageHeader header;
    if (parsePackageHeader(image, imageSize, &header) != 0) return -1;
    PackageChain chain;
    startPackageChain(&chain);
    int errors = 0;
    for (const PackageEntry& entry : header.entries) {
        uint8_t* region = image + entry.offset;
        uint8_t stored[16], plain[16];
        md5Digest(region, entry.size, stored);
        scramblePackageBytes(chain.seed, region, entry.size, chain.key);
        md5Digest(region, entry.size, plain);
        advancePackageChain(&chain, stored);
        if (!blocksEqual(plain, entry.digest, 16)) errors++;
    }
    return errors ? -100 - errors : 0;
}

#ifndef FLAVOUR
#define FLAVOUR "Os"
#endif

void report(const char* name, double* ms) {
    std::sort(ms, ms + RUNS);
    printf("win32_" FLAVOUR "_%s runs=%d median_ms=%.3f min_ms=%.3f max_ms=%.3f\n", name, RUNS, ms[RUNS / 2], ms[0],
           ms[RUNS - 1]);
}

}  // namespace

int main() {
    uint8_t* files[3];
    const char* names[3] = {"Orlocast.exe", "readme.txt", "OrloCastOnTheShow.pdf"};
    uint32_t x = 12345;
    for (int i = 0; i < 3; i++) {
        files[i] = (uint8_t*)malloc(SIZES[i]);
        for (uint32_t k = 0; k < SIZES[i]; k++) {
            x = x * 1664525u + 1013904223u;
            files[i][k] = (uint8_t)(x >> 24);
        }
    }
    const uint32_t size = packageSizeFor(SIZES);
    uint8_t* source = (uint8_t*)malloc(size);
    uint8_t* image = (uint8_t*)malloc(size);
    if (buildPackageImage(names, files, SIZES, source, size) != 0) return 1;

    double single[RUNS], straight[RUNS], md5[RUNS];
    int failures = 0;
    uint8_t digest[16];
    for (int r = 0; r < RUNS; r++) {
        memcpy(image, source, size);
        double t = nowMs();
        failures += unpackPackageImage(image, size, 0) != 0;
        single[r] = nowMs() - t;
        memcpy(image, source, size);
        t = nowMs();
        failures += unpackStraightforward(image, size) != 0;
        straight[r] = nowMs() - t;
        t = nowMs();
        md5Digest(source, size, digest);
        md5[r] = nowMs() - t;
    }
    report("unpack", single);
    report("three_passes", straight);
    report("md5", md5);
    if (failures) printf("win32_" FLAVOUR "_failures=%d\n", failures);
    return failures ? 1 : 0;
}
