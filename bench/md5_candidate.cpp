// See md5_candidate.h. Only the block transform differs from package/md5.cpp;
// padding and length go through the same steps as md5Final.
#include "bench/md5_candidate.h"

#include <string.h>

namespace {

inline uint32_t rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);  // little-endian hosts only (x86)
    return v;
}

// Round functions with b entering last, so that only one or two operations
// lie on the path from the previous step's result.
#define C_F(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define C_H(b, c, d) (((c) ^ (d)) ^ (b))
#define C_I(b, c, d) (((b) | ~(d)) ^ (c))

#define C_STEP(f, a, b, c, d, k, t, s) \
    a += x[k] + (uint32_t)(t);         \
    a += f(b, c, d);                   \
    a = rotl(a, s) + b;

// G(b, c, d) = (b & d) | (c & ~d); the two masks are disjoint, so it is also
// their sum, and c & ~d can be added before b is known.
#define C_STEP_G(a, b, c, d, k, t, s) \
    a += x[k] + (uint32_t)(t);        \
    a += (c) & ~(d);                  \
    a += (b) & (d);                   \
    a = rotl(a, s) + b;

void blocks(uint32_t state[4], const uint8_t* p, uint64_t count) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    while (count--) {
        uint32_t x[16];
        for (int i = 0; i < 16; i++) x[i] = load32(p + 4 * i);
        const uint32_t sa = a, sb = b, sc = c, sd = d;
        C_STEP(C_F, a, b, c, d, 0, 0xd76aa478, 7)
        C_STEP(C_F, d, a, b, c, 1, 0xe8c7b756, 12)
        C_STEP(C_F, c, d, a, b, 2, 0x242070db, 17)
        C_STEP(C_F, b, c, d, a, 3, 0xc1bdceee, 22)
        C_STEP(C_F, a, b, c, d, 4, 0xf57c0faf, 7)
        C_STEP(C_F, d, a, b, c, 5, 0x4787c62a, 12)
        C_STEP(C_F, c, d, a, b, 6, 0xa8304613, 17)
        C_STEP(C_F, b, c, d, a, 7, 0xfd469501, 22)
        C_STEP(C_F, a, b, c, d, 8, 0x698098d8, 7)
        C_STEP(C_F, d, a, b, c, 9, 0x8b44f7af, 12)
        C_STEP(C_F, c, d, a, b, 10, 0xffff5bb1, 17)
        C_STEP(C_F, b, c, d, a, 11, 0x895cd7be, 22)
        C_STEP(C_F, a, b, c, d, 12, 0x6b901122, 7)
        C_STEP(C_F, d, a, b, c, 13, 0xfd987193, 12)
        C_STEP(C_F, c, d, a, b, 14, 0xa679438e, 17)
        C_STEP(C_F, b, c, d, a, 15, 0x49b40821, 22)
        C_STEP_G(a, b, c, d, 1, 0xf61e2562, 5)
        C_STEP_G(d, a, b, c, 6, 0xc040b340, 9)
        C_STEP_G(c, d, a, b, 11, 0x265e5a51, 14)
        C_STEP_G(b, c, d, a, 0, 0xe9b6c7aa, 20)
        C_STEP_G(a, b, c, d, 5, 0xd62f105d, 5)
        C_STEP_G(d, a, b, c, 10, 0x02441453, 9)
        C_STEP_G(c, d, a, b, 15, 0xd8a1e681, 14)
        C_STEP_G(b, c, d, a, 4, 0xe7d3fbc8, 20)
        C_STEP_G(a, b, c, d, 9, 0x21e1cde6, 5)
        C_STEP_G(d, a, b, c, 14, 0xc33707d6, 9)
        C_STEP_G(c, d, a, b, 3, 0xf4d50d87, 14)
        C_STEP_G(b, c, d, a, 8, 0x455a14ed, 20)
        C_STEP_G(a, b, c, d, 13, 0xa9e3e905, 5)
        C_STEP_G(d, a, b, c, 2, 0xfcefa3f8, 9)
        C_STEP_G(c, d, a, b, 7, 0x676f02d9, 14)
        C_STEP_G(b, c, d, a, 12, 0x8d2a4c8a, 20)
        C_STEP(C_H, a, b, c, d, 5, 0xfffa3942, 4)
        C_STEP(C_H, d, a, b, c, 8, 0x8771f681, 11)
        C_STEP(C_H, c, d, a, b, 11, 0x6d9d6122, 16)
        C_STEP(C_H, b, c, d, a, 14, 0xfde5380c, 23)
        C_STEP(C_H, a, b, c, d, 1, 0xa4beea44, 4)
        C_STEP(C_H, d, a, b, c, 4, 0x4bdecfa9, 11)
        C_STEP(C_H, c, d, a, b, 7, 0xf6bb4b60, 16)
        C_STEP(C_H, b, c, d, a, 10, 0xbebfbc70, 23)
        C_STEP(C_H, a, b, c, d, 13, 0x289b7ec6, 4)
        C_STEP(C_H, d, a, b, c, 0, 0xeaa127fa, 11)
        C_STEP(C_H, c, d, a, b, 3, 0xd4ef3085, 16)
        C_STEP(C_H, b, c, d, a, 6, 0x04881d05, 23)
        C_STEP(C_H, a, b, c, d, 9, 0xd9d4d039, 4)
        C_STEP(C_H, d, a, b, c, 12, 0xe6db99e5, 11)
        C_STEP(C_H, c, d, a, b, 15, 0x1fa27cf8, 16)
        C_STEP(C_H, b, c, d, a, 2, 0xc4ac5665, 23)
        C_STEP(C_I, a, b, c, d, 0, 0xf4292244, 6)
        C_STEP(C_I, d, a, b, c, 7, 0x432aff97, 10)
        C_STEP(C_I, c, d, a, b, 14, 0xab9423a7, 15)
        C_STEP(C_I, b, c, d, a, 5, 0xfc93a039, 21)
        C_STEP(C_I, a, b, c, d, 12, 0x655b59c3, 6)
        C_STEP(C_I, d, a, b, c, 3, 0x8f0ccc92, 10)
        C_STEP(C_I, c, d, a, b, 10, 0xffeff47d, 15)
        C_STEP(C_I, b, c, d, a, 1, 0x85845dd1, 21)
        C_STEP(C_I, a, b, c, d, 8, 0x6fa87e4f, 6)
        C_STEP(C_I, d, a, b, c, 15, 0xfe2ce6e0, 10)
        C_STEP(C_I, c, d, a, b, 6, 0xa3014314, 15)
        C_STEP(C_I, b, c, d, a, 13, 0x4e0811a1, 21)
        C_STEP(C_I, a, b, c, d, 4, 0xf7537e82, 6)
        C_STEP(C_I, d, a, b, c, 11, 0xbd3af235, 10)
        C_STEP(C_I, c, d, a, b, 2, 0x2ad7d2bb, 15)
        C_STEP(C_I, b, c, d, a, 9, 0xeb86d391, 21)
        a += sa;
        b += sb;
        c += sc;
        d += sd;
        p += 64;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

}  // namespace

void md5CandidateDigest(const void* bytes, uint32_t length, uint8_t digest[16]) {
    uint32_t state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
    const uint8_t* in = (const uint8_t*)bytes;
    blocks(state, in, length / 64);
    uint8_t last[128] = {0};
    const uint32_t rest = length % 64;
    memcpy(last, in + (length - rest), rest);
    last[rest] = 0x80;
    const uint32_t lastBlocks = rest < 56 ? 1 : 2;
    const uint64_t bits = (uint64_t)length * 8;
    for (int i = 0; i < 8; i++) last[64 * lastBlocks - 8 + i] = (uint8_t)(bits >> (8 * i));
    blocks(state, last, lastBlocks);
    for (int i = 0; i < 4; i++) memcpy(digest + 4 * i, &state[i], 4);
}
