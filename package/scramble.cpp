// The two byte scramblers and the block routines.
#include <string.h>

#include "package/package.h"

namespace {

// One step of the shared state update. The shift is arithmetic: s is read as
// a signed 32-bit value, so bit 31 of s fills bits 24..31 of the new state.
// Written out with unsigned operations so that it does not depend on how the
// compiler shifts negative numbers.
inline uint32_t nextState(uint32_t s) { return (s >> 8) | ((s & 0x80000000u) ? 0xFF000000u : 0u); }

}  // namespace

int scramblePackageBytes(uint32_t seed, uint8_t* bytes, uint32_t count, const uint8_t key[16]) {
    uint32_t a = seed;
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t n = count - i;
        a += n;
        const uint32_t s = a * a;
        const uint8_t k = (uint8_t)((s & 0xFF) + ((s >> 8) & 0xFF) + key[n & 15]);
        bytes[i] ^= k;
        a = nextState(s);
    }
    return 0;
}

int scrambleLinkBytes(uint32_t seed, uint8_t* bytes, uint32_t count) {
    if (bytes == 0) return -1;
    uint32_t a = seed;
    for (uint32_t i = 0; i < count; i++) {
        const uint32_t n = count - i;
        a += n;
        const uint32_t s = a * a;
        bytes[i] ^= (uint8_t)(s >> 8);
        a = nextState(s);
    }
    return 0;
}

// The block routines go 8 bytes at a time (memcpy of 8 compiles to one move
// and has no alignment demands), then byte by byte for the rest.

void copyBlock(void* destination, const void* source, uint32_t count) {
    if (destination == source || count == 0) return;
    uint8_t* d = (uint8_t*)destination;
    const uint8_t* s = (const uint8_t*)source;
    for (; count >= 8; count -= 8, d += 8, s += 8) {
        uint64_t w;
        memcpy(&w, s, 8);
        memcpy(d, &w, 8);
    }
    while (count--) *d++ = *s++;
}

int blocksEqual(const void* first, const void* second, uint32_t count) {
    if (first == second || count == 0) return 1;
    const uint8_t* a = (const uint8_t*)first;
    const uint8_t* b = (const uint8_t*)second;
    for (; count >= 8; count -= 8, a += 8, b += 8) {
        uint64_t x, y;
        memcpy(&x, a, 8);
        memcpy(&y, b, 8);
        if (x != y) break;
    }
    for (; count > 0; count--, a++, b++) {
        if (*a != *b) return 0;
    }
    return 1;
}

void zeroBlock(void* destination, uint32_t count) {
    uint8_t* d = (uint8_t*)destination;
    const uint64_t zero = 0;
    for (; count >= 8; count -= 8, d += 8) memcpy(d, &zero, 8);
    while (count--) *d++ = 0;
}
