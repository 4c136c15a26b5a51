// The package: the product's three files carried inside the installer as
// resource RT_RCDATA 100, with the MD5 digest and the two byte scramblers
// it is built on.
//
// Everything above the "Win32" section is pure code with no platform calls,
// so the packaging tool, the native tests, the fuzzer and the benchmarks use
// exactly what the installer uses.
#ifndef ORLO_PACKAGE_PACKAGE_H
#define ORLO_PACKAGE_PACKAGE_H

#include <stddef.h>
#include <stdint.h>

// ---------------------------------------------------------------------------
// MD5 (RFC 1321)

struct Md5Context {
    uint32_t state[4];     // the four chaining words
    uint32_t bitCount[2];  // message length in bits, low word first
    uint8_t buffer[64];    // bytes of the block that is not yet complete
};

void md5Init(Md5Context* context);
void md5Update(Md5Context* context, const void* bytes, uint32_t length);
// Writes the 16-byte digest and wipes the context.
void md5Final(uint8_t digest[16], Md5Context* context);
// One-shot form; writes exactly 16 bytes.
void md5Digest(const void* bytes, uint32_t length, uint8_t digest[16]);

// ---------------------------------------------------------------------------
// Scramblers. Both are their own inverse: the keystream depends only on the
// seed, the count (and the key), so applying one twice restores the bytes.
// A region must be processed whole, in one call with its full length.

const uint32_t PACKAGE_SEED = 0x3A94C1D7u;
const uint32_t LINK_SEED = 0x51E2B86Cu;

// Returns 0. A count of 0 does nothing.
int scramblePackageBytes(uint32_t seed, uint8_t* bytes, uint32_t count, const uint8_t key[16]);
// Returns 0, or -1 without touching anything when bytes is null.
// A count of 0 does nothing.
int scrambleLinkBytes(uint32_t seed, uint8_t* bytes, uint32_t count);

// Block routines: copy (no overlap), exact compare (1 = equal), zero fill.
void copyBlock(void* destination, const void* source, uint32_t count);
int blocksEqual(const void* first, const void* second, uint32_t count);
void zeroBlock(void* destination, uint32_t count);

// ---------------------------------------------------------------------------
// Package layout. Integers are unsigned 32-bit little-endian; the header is
// three entries back to back at offset 0, followed by the data region.
// There is no magic number, no version, no entry count and no checksum.

const uint32_t PACKAGE_ENTRY_COUNT = 3;
const uint32_t PACKAGE_NAME_SIZE = 128;

#pragma pack(push, 1)
struct PackageEntry {
    char name[128];      // 0: relative file name, zero-terminated inside the field;
                         //    may hold backslash-separated subfolders
    uint32_t offset;     // 128: first stored byte, from the start of the package
    uint32_t size;       // 132: stored bytes = bytes of the written file
    uint8_t digest[16];  // 136: MD5 of the plain (descrambled) bytes
    uint32_t reserved;   // 152: never read
};
struct PackageHeader {
    PackageEntry entries[3];
};
#pragma pack(pop)

static_assert(sizeof(PackageEntry) == 156, "PackageEntry must be 156 bytes");
static_assert(sizeof(PackageHeader) == 468, "PackageHeader must be 468 bytes");
static_assert(offsetof(PackageEntry, offset) == 128, "offset field at 128");
static_assert(offsetof(PackageEntry, size) == 132, "size field at 132");
static_assert(offsetof(PackageEntry, digest) == 136, "digest field at 136");
static_assert(offsetof(PackageEntry, reserved) == 152, "reserved field at 152");

const uint32_t PACKAGE_HEADER_SIZE = 468;

// The seed and key that run from one entry to the next.
struct PackageChain {
    uint32_t seed;
    uint8_t key[16];
};

// Seed PACKAGE_SEED, key of 16 zero bytes: the chain of entry 0.
void startPackageChain(PackageChain* chain);
// After an entry: key = MD5 of its stored bytes, seed = (seed*seed << 8) | key[0].
void advancePackageChain(PackageChain* chain, const uint8_t storedDigest[16]);

// 1 when offset + size <= packageSize, computed without 32-bit wrap-around.
int entryInBounds(const PackageEntry* entry, uint32_t packageSize);

// Length of the entry's name, or -1 when the field holds no terminator.
int entryNameLength(const PackageEntry* entry);

// 1 when the name can only denote a file inside the target folder: 1 to 127
// bytes, terminated inside the field; relative (no drive, colon or leading
// backslash); no forward slash; every backslash-separated component non-empty,
// not ending in a dot or blank (which covers "." and ".."), free of control
// characters and of < > " | ? *, and not a device name (CON, NUL, COM1, ...).
int entryNameIsSafe(const PackageEntry* entry);

// Outcome of one entry of a package image.
enum EntryOutcome {
    ENTRY_OK = 0,               // digest matches; the region now holds plain bytes
    ENTRY_OUT_OF_BOUNDS = 1,    // region reaches past the package; chain not advanced
    ENTRY_EMPTY = 2,            // size 0: nothing to verify or write; counted as failed
    ENTRY_DIGEST_MISMATCH = 3,  // descrambled bytes do not match the entry's digest
};

// Processes one entry of a writable image exactly as extraction does: bounds
// test, MD5 of the stored bytes, in-place descrambling, MD5 of the result,
// comparison with the entry's digest, and the chain advanced after every
// entry that passed the bounds test.
EntryOutcome unpackEntryInPlace(uint8_t* image, uint32_t imageSize, const PackageEntry* entry, PackageChain* chain);

// Reads the header of an image held in memory: 0 and a copy in *header when
// the image is longer than 468 bytes, -1 otherwise (header untouched).
int parsePackageHeader(const uint8_t* image, uint32_t imageSize, PackageHeader* header);

// Verifies and descrambles a whole image in place. Fills outcomes[3] (may be
// null) and returns 0, -1 (no header) or -100 minus the failed entries.
// Names are not judged here; unsafe names are the writer's concern.
int unpackPackageImage(uint8_t* image, uint32_t imageSize, EntryOutcome outcomes[3]);

// Producing a package. Returns the package size for the three file sizes,
// or 0 when it would not fit 32 bits.
uint32_t packageSizeFor(const uint32_t sizes[3]);

// Writes a package of the three files into out (outSize must be at least
// packageSizeFor(sizes)), back to back in entry order, reserved fields 0.
// Returns 0, or -1 when a name is not 1..127 bytes, a file is empty, or the
// output is too small.
int buildPackageImage(const char* const names[3], const uint8_t* const data[3], const uint32_t sizes[3], uint8_t* out,
                      uint32_t outSize);

// ---------------------------------------------------------------------------
// The running installer and its file. The installer copies its own file
// beside the product as the uninstaller; a file swapped in at its path since
// the process started must never be that copy.

// Reads count bytes of a file from offset into buffer: 1 only when all of
// them were read.
typedef int (*ImageFileReader)(void* context, uint32_t offset, void* buffer, uint32_t count);

// 1 when the file that read reads holds the image loaded at image, whose
// first byte lies at address loadedBase: byte for byte the headers (but for
// ImageBase, where the loader may write the base it chose), every section
// that is not writable, the resources and the import directory, each but for
// the import address table (the loader fills it, also where it lies in a
// read-only section), where each place the image's relocation table names holds
// the file's value moved by the difference between the two bases. Writable
// sections (data the program has changed since) and bytes that are never
// loaded (a signature, padding) are not compared. 0 at the first difference,
// for a file that ends too early, and for tables that do not describe the
// image.
int imageMatchesFile(const uint8_t* image, uint32_t loadedBase, ImageFileReader read, void* context);

// ---------------------------------------------------------------------------
// Win32: the package as a resource of the running executable.

#ifdef _WIN32
const int PACKAGE_RESOURCE_ID = 100;

// Copies the 468 header bytes of resource RT_RCDATA 100 of module into
// header. 0 on success; -1 when the resource is missing, can't be loaded or
// holds no more than 468 bytes (header is left untouched).
int readPackageHeader(void* module, PackageHeader* header);

// 1 when file (a handle open for reading) holds the process's own image
// (imageMatchesFile). Reads it from its start; must come before extraction,
// which changes the resources in memory.
int fileHoldsRunningImage(void* file);
#endif

#endif
