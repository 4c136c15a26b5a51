// Throughput of the package core on a buffer the size of the package in use.
// Prints figures; passes or fails nothing.
#include <benchmark/benchmark.h>

#include <vector>

#include "package/package.h"
#include "tests/support/test_package.h"

namespace {

const uint32_t PACKAGE_BYTES = 2686459;

const std::vector<uint8_t>& buffer() {
    static const std::vector<uint8_t> bytes = orlotest::patternBytes(PACKAGE_BYTES, 42);
    return bytes;
}

void BM_Md5Digest(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = buffer();
    uint8_t digest[16];
    for (auto _ : state) {
        md5Digest(bytes.data(), PACKAGE_BYTES, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * PACKAGE_BYTES);
}
BENCHMARK(BM_Md5Digest)->Unit(benchmark::kMillisecond);

void BM_ScramblePackageBytes(benchmark::State& state) {
    std::vector<uint8_t> bytes = buffer();
    const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (auto _ : state) {
        scramblePackageBytes(PACKAGE_SEED, bytes.data(), PACKAGE_BYTES, key);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * PACKAGE_BYTES);
}
BENCHMARK(BM_ScramblePackageBytes)->Unit(benchmark::kMillisecond);

void BM_ScrambleLinkBytes(benchmark::State& state) {
    std::vector<uint8_t> bytes = buffer();
    for (auto _ : state) {
        scrambleLinkBytes(LINK_SEED, bytes.data(), PACKAGE_BYTES);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * PACKAGE_BYTES);
}
BENCHMARK(BM_ScrambleLinkBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
