// Does a file hold the image that is running? The installer copies its own
// file beside the product as the uninstaller, and a file at its path may
// have been swapped since the process started; this compares the file with
// what the loader mapped. Pure: the image is given as bytes and the file
// through a reader, so that the tests can load an image at any address.
#include "package/package.h"

namespace {

const uint32_t CHUNK = 4096;
// Every place the relocation table names holds four bytes: a place that
// starts up to three bytes before a chunk still reaches into it.
const uint32_t PLACE_REACH = 3;

uint32_t le32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
uint32_t le16(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }

struct LoadedImage {
    const uint8_t* bytes;
    uint32_t size;   // SizeOfImage
    uint32_t delta;  // loaded base minus the file's ImageBase
    const uint8_t* relocations;
    uint32_t relocationSize;
    const uint8_t* sections;  // the section table, 40 bytes an entry
    uint32_t sectionCount;
    uint32_t addressTable;  // the import address table, which the loader fills
    uint32_t addressTableSize;
    ImageFileReader read;
    void* context;
};

// Moves every relocated place that overlaps [rva, rva+length) in buffer,
// which holds the file's bytes from bufferRva to bufferRva+bufferLength, by
// the image's delta. 0 when the table is damaged, names a kind of place this
// check does not know, or a place reaches past the bytes at hand.
int relocate(const LoadedImage* image, uint8_t* buffer, uint32_t bufferRva, uint32_t bufferLength, uint32_t rva,
             uint32_t length) {
    if (image->delta == 0) return 1;
    for (uint32_t at = 0; at + 8 <= image->relocationSize;) {
        const uint32_t page = le32(image->relocations + at), blockSize = le32(image->relocations + at + 4);
        if (blockSize < 8 || blockSize > image->relocationSize - at || page > image->size) return 0;
        // A block names places from its page up to 4 KB after it.
        if (page < rva + length && page + 0x1000 + PLACE_REACH > rva) {
            for (uint32_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
                const uint32_t entry = le16(image->relocations + e), place = page + (entry & 0xFFF);
                if (entry >> 12 == 0) continue;  // padding
                if (place + 4 <= rva || place >= rva + length) continue;
                if (entry >> 12 != 3 || place < bufferRva || place + 4 > bufferRva + bufferLength) return 0;
                uint8_t* p = buffer + (place - bufferRva);
                const uint32_t moved = le32(p) + image->delta;
                p[0] = (uint8_t)moved, p[1] = (uint8_t)(moved >> 8), p[2] = (uint8_t)(moved >> 16);
                p[3] = (uint8_t)(moved >> 24);
            }
        }
        at += blockSize;
    }
    return 1;
}

// Compares length bytes of the image at rva with the file's bytes at
// offset, relocated, a chunk at a time.
int rangeMatches(const LoadedImage* image, uint32_t rva, uint32_t offset, uint32_t length) {
    if (rva > image->size || length > image->size - rva || offset + length < offset) return 0;
    uint8_t buffer[PLACE_REACH + CHUNK + PLACE_REACH];
    for (uint32_t done = 0; done < length;) {
        const uint32_t chunk = length - done < CHUNK ? length - done : CHUNK;
        // The reach on either side, inside the range, so that a place that
        // straddles the chunk's edge is moved whole.
        const uint32_t before = done < PLACE_REACH ? done : PLACE_REACH;
        const uint32_t left = length - done - chunk, after = left < PLACE_REACH ? left : PLACE_REACH;
        const uint32_t bufferLength = before + chunk + after;
        if (!image->read(image->context, offset + done - before, buffer, bufferLength)) return 0;
        if (!relocate(image, buffer, rva + done - before, bufferLength, rva + done, chunk)) return 0;
        if (!blocksEqual(buffer + before, image->bytes + rva + done, chunk)) return 0;
        done += chunk;
    }
    return 1;
}

// The same for the bytes of a section, but for those of the import address
// table: the loader writes the imported functions' addresses there, also
// where the table lies in a read-only section (it makes the table writable
// while it binds).
int sectionMatches(const LoadedImage* image, uint32_t rva, uint32_t offset, uint32_t length) {
    if (rva > image->size || length > image->size - rva) return 0;
    const uint32_t end = rva + length, hole = image->addressTable, holeEnd = hole + image->addressTableSize;
    if (image->addressTableSize == 0 || hole >= end || holeEnd <= rva) return rangeMatches(image, rva, offset, length);
    const uint32_t before = hole > rva ? hole - rva : 0, after = holeEnd < end ? end - holeEnd : 0;
    return rangeMatches(image, rva, offset, before) &&
           rangeMatches(image, end - after, offset + (length - after), after);
}

// The same for an address range given by the image (a directory), found in
// the raw bytes of the section that holds it.
int directoryMatches(const LoadedImage* image, uint32_t rva, uint32_t length) {
    if (length == 0) return 1;
    for (uint32_t i = 0; i < image->sectionCount; i++) {
        const uint8_t* s = image->sections + 40 * i;
        const uint32_t address = le32(s + 12), raw = le32(s + 16), offset = le32(s + 20);
        if (rva >= address && rva - address < raw && length <= raw - (rva - address))
            return rangeMatches(image, rva, offset + (rva - address), length);
    }
    return 0;
}

}  // namespace

int imageMatchesFile(const uint8_t* image, uint32_t loadedBase, ImageFileReader read, void* context) {
    // The loaded headers describe the image; once the file's headers are
    // found equal, they describe the file as well.
    const uint32_t peOffset = le32(image + 0x3C);
    if (image[0] != 'M' || image[1] != 'Z' || peOffset > 0x1000 - 248) return 0;
    const uint8_t* pe = image + peOffset;
    const uint32_t optionalSize = le16(pe + 20), optional = peOffset + 24;
    if (le32(pe) != 0x4550 || le16(pe + 24) != 0x10B || optionalSize < 224) return 0;
    const uint32_t imageBaseAt = optional + 28, headerSize = le32(pe + 24 + 60);
    LoadedImage loaded;
    loaded.bytes = image;
    loaded.size = le32(pe + 24 + 56);
    loaded.sectionCount = le16(pe + 6);
    loaded.sections = image + optional + optionalSize;
    loaded.read = read;
    loaded.context = context;
    loaded.delta = 0;
    loaded.relocations = 0;
    loaded.relocationSize = 0;
    loaded.addressTable = 0;
    loaded.addressTableSize = 0;
    if (headerSize > loaded.size || optional + optionalSize + 40 * loaded.sectionCount > headerSize) return 0;

    // The loader may write the base it chose into the header's ImageBase.
    uint8_t fileBase[4];
    if (!read(context, imageBaseAt, fileBase, 4)) return 0;
    const uint32_t loadedField = le32(image + imageBaseAt);
    if (loadedField != le32(fileBase) && loadedField != loadedBase) return 0;
    loaded.delta = loadedBase - le32(fileBase);
    if (!rangeMatches(&loaded, 0, 0, imageBaseAt) ||
        !rangeMatches(&loaded, imageBaseAt + 4, imageBaseAt + 4, headerSize - imageBaseAt - 4))
        return 0;

    const uint8_t* directories = pe + 24 + 96;  // 16 pairs of address and size
    const uint32_t relocationRva = le32(directories + 5 * 8), relocationSize = le32(directories + 5 * 8 + 4);
    if (relocationRva > loaded.size || relocationSize > loaded.size - relocationRva) return 0;
    loaded.relocations = image + relocationRva;
    loaded.relocationSize = relocationSize;
    const uint32_t table = le32(directories + 12 * 8), tableSize = le32(directories + 12 * 8 + 4);
    if (table > loaded.size || tableSize > loaded.size - table) return 0;
    loaded.addressTable = table;
    loaded.addressTableSize = tableSize;

    // Every section the program cannot write to, as the loader mapped it
    // from the file (the rest of a section is zero-filled memory).
    for (uint32_t i = 0; i < loaded.sectionCount; i++) {
        const uint8_t* s = loaded.sections + 40 * i;
        const uint32_t virtualSize = le32(s + 8), raw = le32(s + 16);
        const uint32_t mapped = virtualSize != 0 && virtualSize < raw ? virtualSize : raw;
        if (le32(s + 36) & 0x80000000u) continue;  // IMAGE_SCN_MEM_WRITE
        if (!sectionMatches(&loaded, le32(s + 12), le32(s + 20), mapped)) return 0;
    }
    // The resources (the package among them) wherever they lie: nothing
    // writes them before extraction, which comes after this check.
    if (!directoryMatches(&loaded, le32(directories + 2 * 8), le32(directories + 2 * 8 + 4))) return 0;
    // The import directory but for its address table: the same functions of
    // the same libraries.
    const uint32_t imports = le32(directories + 1 * 8), importSize = le32(directories + 1 * 8 + 4);
    if (table >= imports && table - imports <= importSize && tableSize <= importSize - (table - imports))
        return directoryMatches(&loaded, imports, table - imports) &&
               directoryMatches(&loaded, table + tableSize, importSize - (table - imports) - tableSize);
    return directoryMatches(&loaded, imports, importSize);
}
