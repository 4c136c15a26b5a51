// A candidate MD5 block transform, measured beside md5Digest by the
// benchmarks: word loads with memcpy, the message word and constant added
// before the round function, and G written as a sum of two disjoint masks.
// The same digest as md5Digest (RFC 1321).
#pragma once

#include <stdint.h>

void md5CandidateDigest(const void* bytes, uint32_t length, uint8_t digest[16]);
