// Throughput of the extraction core on a package the size of the one in use
// (2,686,459 bytes: entries of 2,227,736, 5,054 and 453,201 bytes), with
// OpenSSL's MD5 as the reference. Prints figures; passes or fails nothing.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "bench/md5_candidate.h"
#include "package/package.h"
#include "tests/support/test_package.h"

namespace {

const uint32_t SIZES[3] = {2227736, 5054, 453201};
const uint32_t PACKAGE_BYTES = 2686459;

// A valid package of the three sizes, as the packaging tool writes it.
const std::vector<uint8_t>& packageImage() {
    static const std::vector<uint8_t> image = [] {
        std::vector<orlotest::TestFile> files = {{"Orlocast.exe", orlotest::patternBytes(SIZES[0], 1)},
                                                 {"readme.txt", orlotest::patternBytes(SIZES[1], 2)},
                                                 {"OrloCastOnTheShow.pdf", orlotest::patternBytes(SIZES[2], 3)}};
        return orlotest::buildTestPackage(files);
    }();
    return image;
}

void setBytes(benchmark::State& state, uint32_t bytesPerIteration) {
    state.SetBytesProcessed((int64_t)state.iterations() * bytesPerIteration);
}

// (a) Our MD5 over the whole package.
void BM_Md5Digest(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = packageImage();
    uint8_t digest[16];
    for (auto _ : state) {
        md5Digest(bytes.data(), PACKAGE_BYTES, digest);
        benchmark::DoNotOptimize(digest);
    }
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_Md5Digest)->Unit(benchmark::kMillisecond);

// (d) The reference: one plain MD5 pass with OpenSSL (EVP, MD5).
void BM_OpenSslMd5(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = packageImage();
    uint8_t digest[16];
    uint8_t ours[16];
    md5Digest(bytes.data(), PACKAGE_BYTES, ours);
    unsigned int length = 0;
    EVP_Digest(bytes.data(), PACKAGE_BYTES, digest, &length, EVP_md5(), nullptr);
    if (length != 16 || memcmp(digest, ours, 16) != 0) state.SkipWithError("OpenSSL and md5Digest disagree");
    for (auto _ : state) {
        EVP_Digest(bytes.data(), PACKAGE_BYTES, digest, &length, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_OpenSslMd5)->Unit(benchmark::kMillisecond);

// A candidate MD5 core (bench/md5_candidate.cpp), the same digest.
void BM_Md5Candidate(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = packageImage();
    uint8_t digest[16];
    uint8_t ours[16];
    md5Digest(bytes.data(), PACKAGE_BYTES, ours);
    md5CandidateDigest(bytes.data(), PACKAGE_BYTES, digest);
    if (memcmp(digest, ours, 16) != 0) state.SkipWithError("candidate MD5 differs from md5Digest");
    for (auto _ : state) {
        md5CandidateDigest(bytes.data(), PACKAGE_BYTES, digest);
        benchmark::DoNotOptimize(digest);
    }
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_Md5Candidate)->Unit(benchmark::kMillisecond);

// (b) The package scrambler over the whole package.
void BM_ScramblePackageBytes(benchmark::State& state) {
    std::vector<uint8_t> bytes = packageImage();
    const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (auto _ : state) {
        scramblePackageBytes(PACKAGE_SEED, bytes.data(), PACKAGE_BYTES, key);
        benchmark::ClobberMemory();
    }
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_ScramblePackageBytes)->Unit(benchmark::kMillisecond);

void BM_ScrambleLinkBytes(benchmark::State& state) {
    std::vector<uint8_t> bytes = packageImage();
    for (auto _ : state) {
        scrambleLinkBytes(LINK_SEED, bytes.data(), PACKAGE_BYTES);
        benchmark::ClobberMemory();
    }
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_ScrambleLinkBytes)->Unit(benchmark::kMillisecond);

// (c) The whole verify-and-descramble of the image, as extraction does it.
// Each iteration starts from a fresh copy of the scrambled image; the copy
// is made with the timer paused.
void BM_UnpackPackageImage(benchmark::State& state) {
    const std::vector<uint8_t>& source = packageImage();
    std::vector<uint8_t> image(source.size());
    int result = 0;
    for (auto _ : state) {
        state.PauseTiming();
        memcpy(image.data(), source.data(), source.size());
        state.ResumeTiming();
        result |= unpackPackageImage(image.data(), (uint32_t)image.size(), nullptr);
        benchmark::ClobberMemory();
    }
    if (result != 0) state.SkipWithError("the package did not verify");
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_UnpackPackageImage)->Unit(benchmark::kMillisecond);

// (c, before) The same work in the straightforward order: for each entry
// md5Digest of the stored bytes, scramblePackageBytes, md5Digest of the
// result, then the digest comparison and the chain step.
int unpackStraightforward(uint8_t* image, uint32_t imageSize) {
    PackageHeader header;
    if (parsePackageHeader(image, imageSize, &header) != 0) return -1;
    PackageChain chain;
    startPackageChain(&chain);
    int errors = 0;
    for (const PackageEntry& entry : header.entries) {
        if (!entryInBounds(&entry, imageSize)) {
            errors++;
            continue;
        }
        uint8_t* region = image + entry.offset;
        uint8_t stored[16], plain[16];
        md5Digest(region, entry.size, stored);
        scramblePackageBytes(chain.seed, region, entry.size, chain.key);
        md5Digest(region, entry.size, plain);
        advancePackageChain(&chain, stored);
        if (entry.size == 0 || !blocksEqual(plain, entry.digest, 16)) errors++;
    }
    return errors ? -100 - errors : 0;
}

void BM_UnpackStraightforward(benchmark::State& state) {
    const std::vector<uint8_t>& source = packageImage();
    std::vector<uint8_t> image(source.size());
    int result = 0;
    for (auto _ : state) {
        state.PauseTiming();
        memcpy(image.data(), source.data(), source.size());
        state.ResumeTiming();
        result |= unpackStraightforward(image.data(), (uint32_t)image.size());
        benchmark::ClobberMemory();
    }
    if (result != 0) state.SkipWithError("the package did not verify");
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_UnpackStraightforward)->Unit(benchmark::kMillisecond);

// (c, blocked) The three chains interleaved by cache-sized blocks instead:
// for each 8 KB block of a region, md5Update of the stored bytes, the
// keystream carried across blocks (n still counting down from the region's
// full size), md5Update of the plain bytes. Same results; kept to show what
// blocking alone gives next to the 64-byte interleave of unpackPackageImage.
const uint32_t BLOCK = 8192;

inline uint8_t keystreamByte(uint32_t& a, uint32_t& n, const uint8_t key[16]) {
    a += n;
    const uint32_t s = a * a;
    const uint8_t k = (uint8_t)((s & 0xFF) + ((s >> 8) & 0xFF) + key[n & 15]);
    a = (uint32_t)((int32_t)s >> 8);
    n--;
    return k;
}

int unpackBlocked(uint8_t* image, uint32_t imageSize) {
    PackageHeader header;
    if (parsePackageHeader(image, imageSize, &header) != 0) return -1;
    PackageChain chain;
    startPackageChain(&chain);
    int errors = 0;
    for (const PackageEntry& entry : header.entries) {
        uint8_t* region = image + entry.offset;
        Md5Context stored, plain;
        md5Init(&stored);
        md5Init(&plain);
        uint32_t a = chain.seed, n = entry.size;
        for (uint32_t done = 0; done < entry.size; done += BLOCK) {
            const uint32_t length = entry.size - done < BLOCK ? entry.size - done : BLOCK;
            uint8_t* q = region + done;
            md5Update(&stored, q, length);
            for (uint32_t i = 0; i < length; i++) q[i] ^= keystreamByte(a, n, chain.key);
            md5Update(&plain, q, length);
        }
        uint8_t storedDigest[16], plainDigest[16];
        md5Final(storedDigest, &stored);
        md5Final(plainDigest, &plain);
        advancePackageChain(&chain, storedDigest);
        if (!blocksEqual(plainDigest, entry.digest, 16)) errors++;
    }
    return errors ? -100 - errors : 0;
}

void BM_UnpackBlocked8K(benchmark::State& state) {
    const std::vector<uint8_t>& source = packageImage();
    std::vector<uint8_t> image(source.size());
    int result = 0;
    for (auto _ : state) {
        state.PauseTiming();
        memcpy(image.data(), source.data(), source.size());
        state.ResumeTiming();
        result |= unpackBlocked(image.data(), (uint32_t)image.size());
        benchmark::ClobberMemory();
    }
    if (result != 0) state.SkipWithError("the package did not verify");
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_UnpackBlocked8K)->Unit(benchmark::kMillisecond);

// The fresh copy alone (excluded from the two unpack figures), for scale.
void BM_ImageCopy(benchmark::State& state) {
    const std::vector<uint8_t>& source = packageImage();
    std::vector<uint8_t> image(source.size());
    for (auto _ : state) {
        memcpy(image.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    setBytes(state, PACKAGE_BYTES);
}
BENCHMARK(BM_ImageCopy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
