#include "tools/pe_file.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <string>

namespace orlo {
namespace {

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t u16(uint64_t at) const {
        need(at, 2);
        return bytes_[at] | (bytes_[at + 1] << 8);
    }
    uint32_t u32(uint64_t at) const {
        need(at, 4);
        return (uint32_t)bytes_[at] | ((uint32_t)bytes_[at + 1] << 8) | ((uint32_t)bytes_[at + 2] << 16) |
               ((uint32_t)bytes_[at + 3] << 24);
    }
    void need(uint64_t at, uint64_t count) const {
        if (at + count > bytes_.size()) throw PeError("PE file is truncated");
    }

private:
    const std::vector<uint8_t>& bytes_;
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

}  // namespace

bool looksLikePe(const std::vector<uint8_t>& file) { return file.size() >= 2 && file[0] == 'M' && file[1] == 'Z'; }

std::vector<PeResource> readPeResources(const std::vector<uint8_t>& file) {
    const Reader r(file);
    if (!looksLikePe(file)) throw PeError("not a PE file (no MZ signature)");
    const uint32_t peOffset = r.u32(0x3C);
    if (r.u32(peOffset) != 0x00004550) throw PeError("not a PE file (no PE signature)");
    const uint64_t coff = peOffset + 4;
    const uint32_t sectionCount = r.u16(coff + 2);
    const uint32_t optionalSize = r.u16(coff + 16);
    const uint64_t optional = coff + 20;
    const uint32_t magic = r.u16(optional);
    uint64_t directories;
    uint32_t directoryCount;
    if (magic == 0x10B) {
        directoryCount = r.u32(optional + 92);
        directories = optional + 96;
    } else if (magic == 0x20B) {
        directoryCount = r.u32(optional + 108);
        directories = optional + 112;
    } else {
        throw PeError("PE optional header has an unknown magic number");
    }

    // Windows 2000 and XP load no more than 96 sections; the limit also keeps
    // each address lookup short.
    if (sectionCount > 96)
        throw PeError("PE file has " + std::to_string(sectionCount) + " sections; at most 96 are read");
    // Every section's bytes, and the signature after them, lie inside the
    // file: Windows will not load a file cut short, whatever part of it
    // the resources occupy.
    std::vector<Section> sections;
    const uint64_t table = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; i++) {
        const uint64_t s = table + 40ull * i;
        sections.push_back({r.u32(s + 12), r.u32(s + 8), r.u32(s + 20), r.u32(s + 16)});
        const uint64_t end = (uint64_t)sections.back().rawOffset + sections.back().rawSize;
        if (sections.back().rawSize != 0 && end > file.size())
            throw PeError("PE file is truncated: section " + std::to_string(i + 1) + " ends at byte " +
                          std::to_string(end) + ", past the file's end (" + std::to_string(file.size()) + " bytes)");
    }
    if (directoryCount > 4 && r.u32(directories + 4 * 8 + 4) != 0) {
        const uint64_t end = (uint64_t)r.u32(directories + 4 * 8) + r.u32(directories + 4 * 8 + 4);
        if (end > file.size())
            throw PeError("PE file is truncated: its signature ends at byte " + std::to_string(end) +
                          ", past the file's end (" + std::to_string(file.size()) + " bytes)");
    }
    if (directoryCount < 3) return {};
    const uint32_t resourceRva = r.u32(directories + 2 * 8);
    if (resourceRva == 0) return {};
    auto rvaToOffset = [&](uint32_t rva, uint32_t count) -> uint64_t {
        for (const Section& s : sections) {
            const uint64_t span = std::max(s.virtualSize, s.rawSize);
            if (rva >= s.virtualAddress && (uint64_t)rva + count <= s.virtualAddress + span) {
                const uint64_t offset = (uint64_t)s.rawOffset + (rva - s.virtualAddress);
                if ((uint64_t)rva + count > (uint64_t)s.virtualAddress + s.rawSize)
                    throw PeError("resource data lies outside its section's file bytes");
                r.need(offset, count);
                return offset;
            }
        }
        throw PeError("resource address lies in no section");
    };
    const uint64_t root = rvaToOffset(resourceRva, 16);

    std::vector<PeResource> found;
    // Every directory table and data entry of a sound tree has bytes of its
    // own. Refusing any that share bytes bounds the whole walk by the file's
    // size (at most size / 8 entries), whatever the tree's shape; the data
    // the entries name may not add up to more than the file either.
    std::map<uint64_t, uint64_t> claimed;  // start -> end of each table read
    auto claim = [&](uint64_t start, uint64_t count) {
        r.need(start, count);
        const auto next = claimed.lower_bound(start);
        if ((next != claimed.end() && next->first < start + count) ||
            (next != claimed.begin() && std::prev(next)->second > start))
            throw PeError("resource tree is damaged: two of its tables share bytes");
        claimed.emplace(start, start + count);
    };
    uint64_t totalBytes = 0;
    // Walks type / id / language directories; offsets are relative to root.
    // Named entries come first in each table and are not ours; the ID
    // entries after them are looked up by binary search, so they must be
    // 16-bit and strictly ascending.
    std::function<void(uint64_t, int, PeResource)> walk = [&](uint64_t dir, int level, PeResource current) {
        const uint32_t named = r.u16(dir + 12);
        const uint32_t ids = r.u16(dir + 14);
        claim(dir, 16 + 8ull * (named + ids));
        for (uint32_t i = named; i < named + ids; i++) {
            const uint64_t entry = dir + 16 + 8ull * i;
            const uint32_t nameField = r.u32(entry);
            const uint32_t dataField = r.u32(entry + 4);
            if (nameField > 0xFFFF) throw PeError("resource tree is damaged: an ID entry holds no 16-bit ID");
            if (i > named && nameField <= r.u32(entry - 8))
                throw PeError("resource tree is damaged: ID entries are not in ascending order");
            PeResource next = current;
            if (level == 0) next.type = nameField;
            if (level == 1) next.id = nameField;
            if (level == 2) next.language = nameField;
            if (dataField & 0x80000000u) {
                if (level == 2) throw PeError("resource tree has a directory below a language");
                walk(root + (dataField & 0x7FFFFFFFu), level + 1, next);
            } else {
                if (level != 2) throw PeError("resource tree has data above the language level");
                const uint64_t dataEntry = root + dataField;
                claim(dataEntry, 16);
                const uint32_t rva = r.u32(dataEntry);
                const uint32_t size = r.u32(dataEntry + 4);
                const uint64_t at = rvaToOffset(rva, size);
                totalBytes += size;
                if (totalBytes > file.size()) throw PeError("resource data entries overlap");
                next.bytes.assign(file.begin() + at, file.begin() + at + size);
                found.push_back(std::move(next));
            }
        }
    };
    walk(root, 0, PeResource{});
    return found;
}

std::optional<PeResource> findPeResource(const std::vector<uint8_t>& file, uint32_t type, uint32_t id) {
    for (PeResource& resource : readPeResources(file)) {
        if (resource.type == type && resource.id == id) return std::move(resource);
    }
    return std::nullopt;
}

std::string resourceTypeName(uint32_t type) {
    switch (type) {
        case 1: return "RT_CURSOR";
        case 2: return "RT_BITMAP";
        case 3: return "RT_ICON";
        case 4: return "RT_MENU";
        case 5: return "RT_DIALOG";
        case 6: return "RT_STRING";
        case 7: return "RT_FONTDIR";
        case 8: return "RT_FONT";
        case 9: return "RT_ACCELERATOR";
        case 10: return "RT_RCDATA";
        case 11: return "RT_MESSAGETABLE";
        case 12: return "RT_GROUP_CURSOR";
        case 14: return "RT_GROUP_ICON";
        case 16: return "RT_VERSION";
        case 17: return "RT_DLGINCLUDE";
        case 19: return "RT_PLUGPLAY";
        case 20: return "RT_VXD";
        case 21: return "RT_ANICURSOR";
        case 22: return "RT_ANIICON";
        case 23: return "RT_HTML";
        case 24: return "RT_MANIFEST";
    }
    return "type " + std::to_string(type);
}

namespace {

std::string compressionName(uint32_t compression) {
    switch (compression) {
        case 0: return "BI_RGB";
        case 1: return "BI_RLE8";
        case 2: return "BI_RLE4";
        case 3: return "BI_BITFIELDS";
        case 4: return "BI_JPEG";
        case 5: return "BI_PNG";
    }
    return "compression " + std::to_string(compression);
}

// The fields of a BITMAPINFOHEADER that inspection reports and checks.
struct DibHeader {
    int64_t width, height;  // height as stored: negative means top-down
    uint32_t bitCount, compression;
    uint64_t paletteBytes, pixelBytes;  // pixelBytes only for uncompressed data
};

DibHeader readDibHeader(const std::vector<uint8_t>& bytes, const char* what) {
    const Reader r(bytes);
    if (bytes.size() < 40 || r.u32(0) < 40 || r.u32(0) > bytes.size())
        throw PeError(std::string(what) + " has no complete BITMAPINFOHEADER");
    DibHeader h;
    h.width = (int32_t)r.u32(4);
    h.height = (int32_t)r.u32(8);
    h.bitCount = r.u16(14);
    h.compression = r.u32(16);
    const uint32_t used = r.u32(32);
    if (h.width <= 0 || h.height == 0) throw PeError(std::string(what) + " has an empty or negative width or height");
    uint64_t colours = used;
    if (colours == 0 && h.bitCount <= 8) colours = 1ull << h.bitCount;
    if (h.compression == 3) colours += 3;  // the three BI_BITFIELDS masks
    h.paletteBytes = colours * 4;
    const uint64_t rows = (uint64_t)(h.height < 0 ? -h.height : h.height);
    // Capped far above any file's size so that the sums below cannot wrap.
    const uint64_t stride = ((uint64_t)h.width * h.bitCount + 31) / 32 * 4;
    h.pixelBytes = stride > (1ull << 62) / rows ? 1ull << 62 : stride * rows;
    if (r.u32(0) + h.paletteBytes > bytes.size())
        throw PeError(std::string(what) + " is shorter than its colour table");
    return h;
}

bool isPng(const std::vector<uint8_t>& bytes) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::equal(signature, signature + 8, bytes.begin());
}

std::string describeIconImage(const std::vector<uint8_t>& bytes) {
    if (isPng(bytes)) {
        if (bytes.size() < 24) throw PeError("PNG icon image is truncated");
        auto be32 = [&](size_t at) {
            return (uint32_t)bytes[at] << 24 | (uint32_t)bytes[at + 1] << 16 | (uint32_t)bytes[at + 2] << 8 |
                   bytes[at + 3];
        };
        return "icon image " + std::to_string(be32(16)) + "x" + std::to_string(be32(20)) + ", PNG";
    }
    const DibHeader h = readDibHeader(bytes, "icon image");
    if (h.height < 0 || h.height % 2 != 0) throw PeError("icon image height is not twice the image's height");
    const uint64_t rows = (uint64_t)h.height / 2;
    const uint64_t maskBytes = ((uint64_t)h.width + 31) / 32 * 4 * rows;
    if (h.compression == 0 &&
        (uint64_t)Reader(bytes).u32(0) + h.paletteBytes + h.pixelBytes / 2 + maskBytes > bytes.size())
        throw PeError("icon image is shorter than its pixels and mask");
    return "icon image " + std::to_string(h.width) + "x" + std::to_string(rows) + ", " + std::to_string(h.bitCount) +
           " bpp";
}

std::string describeIconGroup(const std::vector<uint8_t>& bytes) {
    const Reader r(bytes);
    if (bytes.size() < 6 || r.u16(0) != 0 || r.u16(2) != 1) throw PeError("icon group has no valid header");
    const uint32_t count = r.u16(4);
    if (6 + 14ull * count > bytes.size()) throw PeError("icon group is shorter than its image list");
    std::string text = "icon group:";
    for (uint32_t i = 0; i < count; i++) {
        const uint64_t e = 6 + 14ull * i;
        const uint32_t width = bytes[e] ? bytes[e] : 256, height = bytes[e + 1] ? bytes[e + 1] : 256;
        text += (i ? ", #" : " #") + std::to_string(r.u16(e + 12)) + " " + std::to_string(width) + "x" +
                std::to_string(height) + " " + std::to_string(r.u16(e + 6)) + " bpp";
    }
    return text;
}

std::string describeBitmap(const std::vector<uint8_t>& bytes) {
    const DibHeader h = readDibHeader(bytes, "bitmap");
    if ((h.compression == 0 || h.compression == 3) &&
        (uint64_t)Reader(bytes).u32(0) + h.paletteBytes + h.pixelBytes > bytes.size())
        throw PeError("bitmap is shorter than its pixels");
    const uint64_t rows = (uint64_t)(h.height < 0 ? -h.height : h.height);
    return "bitmap " + std::to_string(h.width) + "x" + std::to_string(rows) + ", " + std::to_string(h.bitCount) +
           " bpp, " + compressionName(h.compression) + (h.height < 0 ? ", top-down" : ", bottom-up");
}

// Appends code point c as UTF-8.
void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += (char)c;
    } else if (c < 0x800) {
        out += (char)(0xC0 | (c >> 6));
        out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += (char)(0xE0 | (c >> 12));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    } else {
        out += (char)(0xF0 | (c >> 18));
        out += (char)(0x80 | ((c >> 12) & 0x3F));
        out += (char)(0x80 | ((c >> 6) & 0x3F));
        out += (char)(0x80 | (c & 0x3F));
    }
}

// One block of a version resource: its header, key, value and children.
struct VersionBlock {
    uint64_t start, end;  // end = start + wLength
    uint32_t valueLength, type;
    std::string key;
    uint64_t valueStart;  // 4-aligned, after the key's terminator
};

class VersionReader {
public:
    explicit VersionReader(const std::vector<uint8_t>& bytes) : bytes_(bytes), r_(bytes) {}

    VersionBlock block(uint64_t at, uint64_t parentEnd) const {
        if (at + 6 > parentEnd) throw PeError("version block: a child block's header runs past its parent");
        VersionBlock b;
        b.start = at;
        const uint32_t length = r_.u16(at);
        if (length < 6) throw PeError("version block: a block is shorter than its header");
        b.end = at + length;
        if (b.end > parentEnd) throw PeError("version block: a block runs past its parent");
        b.valueLength = r_.u16(at + 2);
        b.type = r_.u16(at + 4);
        uint64_t p = at + 6;
        b.key = utf16(p, b.end, &p);
        if (p > b.end) throw PeError("version block: a key is not terminated inside its block");
        b.valueStart = align4(p);
        return b;
    }

    // UTF-16LE text from `at` up to a terminator or `end`; *after is set past
    // the terminator, or beyond `end` when there was none.
    std::string utf16(uint64_t at, uint64_t end, uint64_t* after) const {
        std::string out;
        while (at + 2 <= end) {
            uint32_t c = r_.u16(at);
            at += 2;
            if (c == 0) {
                *after = at;
                return out;
            }
            if (c >= 0xD800 && c < 0xDC00 && at + 2 <= end && r_.u16(at) >= 0xDC00 && r_.u16(at) < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (r_.u16(at) - 0xDC00);
                at += 2;
            } else if (c >= 0xD800 && c < 0xE000) {
                c = 0xFFFD;  // a lone surrogate
            }
            appendUtf8(out, c);
        }
        *after = end + 1;
        return out;
    }

    // Where the children of b begin: after its value, 4-aligned.
    uint64_t childrenStart(const VersionBlock& b) const {
        const uint64_t valueBytes = b.type == 1 ? 2ull * b.valueLength : b.valueLength;
        const uint64_t at = align4(b.valueStart + valueBytes);
        if (b.valueStart + valueBytes > b.end) throw PeError("version block: a value runs past its block");
        return at;
    }

    // Calls visit for every child of b.
    template <typename Visit>
    void children(const VersionBlock& b, Visit visit) const {
        uint64_t at = childrenStart(b);
        while (at + 6 <= b.end) {
            if (r_.u16(at) == 0) break;  // zero padding up to the parent's end
            const VersionBlock child = block(at, b.end);
            visit(child);
            at = align4(child.end);
        }
    }

    // The text value of a String block.
    std::string text(const VersionBlock& b) const {
        if (b.valueLength == 0) return "";
        if (b.valueStart >= b.end) throw PeError("version block: a string's value lies outside its block");
        // Some writers count the value in bytes, others in characters; the
        // block's end bounds either.
        const uint64_t end = std::min<uint64_t>(b.end, b.valueStart + 2ull * b.valueLength);
        uint64_t after;
        return utf16(b.valueStart, end, &after);
    }

    uint32_t u32(uint64_t at) const { return r_.u32(at); }
    uint64_t size() const { return bytes_.size(); }

private:
    static uint64_t align4(uint64_t at) { return (at + 3) & ~3ull; }
    const std::vector<uint8_t>& bytes_;
    const Reader r_;
};

}  // namespace

std::string describeResource(const PeResource& resource) {
    switch (resource.type) {
        case 2: return describeBitmap(resource.bytes);
        case 3: return describeIconImage(resource.bytes);
        case 14: return describeIconGroup(resource.bytes);
    }
    return "";
}

VersionInfo parseVersionInfo(const std::vector<uint8_t>& bytes) {
    const VersionReader v(bytes);
    VersionInfo info;
    const VersionBlock root = v.block(0, bytes.size());
    if (root.key != "VS_VERSION_INFO") throw PeError("version block: the root key is not VS_VERSION_INFO");
    if (root.valueLength != 0) {
        if (root.valueLength < 52 || root.valueStart + 52 > root.end)
            throw PeError("version block: the fixed part is shorter than VS_FIXEDFILEINFO");
        const uint64_t f = root.valueStart;
        if (v.u32(f) != 0xFEEF04BDu) throw PeError("version block: the fixed part has no VS_FIXEDFILEINFO signature");
        info.hasFixedPart = true;
        info.fileVersionHigh = v.u32(f + 8);
        info.fileVersionLow = v.u32(f + 12);
        info.productVersionHigh = v.u32(f + 16);
        info.productVersionLow = v.u32(f + 20);
        info.flagsMask = v.u32(f + 24);
        info.flags = v.u32(f + 28);
        info.os = v.u32(f + 32);
        info.type = v.u32(f + 36);
        info.subtype = v.u32(f + 40);
    }
    v.children(root, [&](const VersionBlock& section) {
        if (section.key == "StringFileInfo") {
            v.children(section, [&](const VersionBlock& table) {
                VersionInfo::StringTable t;
                t.key = table.key;
                v.children(table, [&](const VersionBlock& s) { t.strings.emplace_back(s.key, v.text(s)); });
                info.stringTables.push_back(std::move(t));
            });
        } else if (section.key == "VarFileInfo") {
            v.children(section, [&](const VersionBlock& var) {
                if (var.key != "Translation") return;
                if (var.valueStart + var.valueLength > var.end)
                    throw PeError("version block: the translation list runs past its block");
                for (uint64_t at = 0; at + 4 <= var.valueLength; at += 4)
                    info.translations.push_back(v.u32(var.valueStart + at));
            });
        }
    });
    return info;
}

namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Element or attribute name without its namespace prefix.
std::string localName(const std::string& name) {
    const size_t colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// Replaces the predefined entities and character references; anything else
// is left as written.
std::string unescapeXml(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        // A reference is short: looking no further keeps the scan linear.
        // References are short: looking no further keeps the scan linear.
        size_t semicolon = std::string::npos;
        for (size_t k = i + 1; k < text.size() && k <= i + 10 && semicolon == std::string::npos; k++)
            if (text[k] == ';') semicolon = k;
        if (semicolon == std::string::npos) {
            out += text[i];
            continue;
        }
        const std::string name = text.substr(i + 1, semicolon - i - 1);
        uint32_t c = 0;
        if (name == "amp")
            c = '&';
        else if (name == "lt")
            c = '<';
        else if (name == "gt")
            c = '>';
        else if (name == "quot")
            c = '"';
        else if (name == "apos")
            c = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hexDigits = name[1] == 'x';
            const std::string digits = name.substr(hexDigits ? 2 : 1);
            if (!digits.empty() && digits.size() <= 6 &&
                digits.find_first_not_of(hexDigits ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos)
                c = (uint32_t)std::stoul(digits, nullptr, hexDigits ? 16 : 10);
            if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
        }
        if (c == 0) {
            out += text[i];
            continue;
        }
        appendUtf8(out, c);
        i = semicolon;
    }
    return out;
}

bool isUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = (uint8_t)text[i];
        size_t extra;
        uint32_t min;
        if (c < 0x80)
            extra = 0, min = 0;
        else if ((c & 0xE0) == 0xC0)
            extra = 1, min = 0x80;
        else if ((c & 0xF0) == 0xE0)
            extra = 2, min = 0x800;
        else if ((c & 0xF8) == 0xF0)
            extra = 3, min = 0x10000;
        else
            return false;
        if (i + extra >= text.size() && extra > 0) return false;
        uint32_t code = extra ? c & (0x3F >> extra) : c;
        for (size_t k = 1; k <= extra; k++) {
            const uint8_t next = (uint8_t)text[i + k];
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

ManifestInfo parseManifest(const std::vector<uint8_t>& bytes) {
    std::string xml(bytes.begin(), bytes.end());
    if (xml.size() >= 2 &&
        (((uint8_t)xml[0] == 0xFF && (uint8_t)xml[1] == 0xFE) || ((uint8_t)xml[0] == 0xFE && (uint8_t)xml[1] == 0xFF)))
        throw PeError("manifest is UTF-16; only UTF-8 manifests are read");
    if (xml.compare(0, 3, "\xEF\xBB\xBF") == 0) xml.erase(0, 3);
    if (!isUtf8(xml)) throw PeError("manifest is not valid UTF-8");

    ManifestInfo info;
    size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        auto skipPast = [&](const char* closer, const char* what) {
            const size_t end = xml.find(closer, at);
            if (end == std::string::npos) throw PeError(std::string("manifest: ") + what + " is not closed");
            at = end + std::char_traits<char>::length(closer);
        };
        if (xml.compare(at, 4, "<!--") == 0) {
            skipPast("-->", "a comment");
        } else if (xml.compare(at, 9, "<![CDATA[") == 0) {
            skipPast("]]>", "a CDATA section");
        } else if (xml.compare(at, 2, "<?") == 0) {
            skipPast("?>", "a processing instruction");
        } else if (xml.compare(at, 2, "<!") == 0 || xml.compare(at, 2, "</") == 0) {
            skipPast(">", "a tag");
        } else {
            // A start tag: name, then name="value" attributes.
            size_t p = at + 1;
            const size_t nameStart = p;
            while (p < xml.size() && !isXmlSpace(xml[p]) && xml[p] != '>' && xml[p] != '/') p++;
            const std::string element = localName(xml.substr(nameStart, p - nameStart));
            if (element.empty()) throw PeError("manifest: a tag has no element name");
            std::vector<std::pair<std::string, std::string>> attributes;
            bool selfClosing = false;
            for (;;) {
                while (p < xml.size() && isXmlSpace(xml[p])) p++;
                if (p >= xml.size()) throw PeError("manifest: a tag is not closed");
                if (xml[p] == '>') break;
                if (xml.compare(p, 2, "/>") == 0) {
                    selfClosing = true;
                    p++;
                    break;
                }
                const size_t attributeStart = p;
                while (p < xml.size() && !isXmlSpace(xml[p]) && xml[p] != '=' && xml[p] != '>' && xml[p] != '/') p++;
                const std::string name = xml.substr(attributeStart, p - attributeStart);
                while (p < xml.size() && isXmlSpace(xml[p])) p++;
                if (name.empty() || p >= xml.size() || xml[p] != '=')
                    throw PeError("manifest: an attribute has no value");
                p++;
                while (p < xml.size() && isXmlSpace(xml[p])) p++;
                if (p >= xml.size() || (xml[p] != '"' && xml[p] != '\''))
                    throw PeError("manifest: an attribute value is not quoted");
                const size_t close = xml.find(xml[p], p + 1);
                if (close == std::string::npos) throw PeError("manifest: an attribute value is not closed");
                attributes.emplace_back(name, unescapeXml(xml.substr(p + 1, close - p - 1)));
                p = close + 1;
            }
            at = p + 1;
            auto attribute = [&](const char* wanted) -> const std::string* {
                for (const auto& a : attributes)
                    if (localName(a.first) == wanted) return &a.second;
                return nullptr;
            };
            if (element == "assemblyIdentity" && info.assemblyIdentity.empty()) {
                info.assemblyIdentity = attributes;
            } else if (element == "requestedExecutionLevel") {
                const std::string* level = attribute("level");
                info.executionLevels.push_back(level ? *level : "");
            } else if (element == "supportedOS") {
                const std::string* id = attribute("Id");
                info.supportedOs.push_back(id ? *id : "");
            } else if (element == "description") {
                if (selfClosing) {
                    info.descriptions.push_back("");
                } else {
                    const size_t end = xml.find('<', at);
                    if (end == std::string::npos) throw PeError("manifest: the description element is not closed");
                    std::string text = unescapeXml(xml.substr(at, end - at));
                    const size_t first = text.find_first_not_of(" \t\r\n");
                    const size_t last = text.find_last_not_of(" \t\r\n");
                    info.descriptions.push_back(first == std::string::npos ? "" : text.substr(first, last - first + 1));
                }
            }
        }
    }
    return info;
}

}  // namespace orlo
