// orlo-pack's commands, as a library: the command-line tool is a thin main()
// around runOrloPack, and the fuzz target calls inspectFile and verifyFile,
// so both exercise the same code.
#include "tools/orlo_pack_lib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "package/package.h"
#include "setup/procedures.h"
#include "tools/pe_file.h"

namespace fs = std::filesystem;

namespace orlo {
namespace {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const char* const USAGE =
    "usage: orlo-pack build -o OUT NAME=PATH NAME=PATH NAME=PATH\n"
    "       orlo-pack inspect FILE\n"
    "       orlo-pack verify FILE\n"
    "       orlo-pack extract FILE DIR\n"
    "       orlo-pack package -o OUT FILE\n";

// The largest file any command reads: a package's offsets and sizes are
// 32-bit, and so is the size of the resource that holds it.
const uint64_t MAX_INPUT_BYTES = 0xFFFFFFFFu;

// The names the installer itself points at in the installation folder: it
// makes its shortcuts to both, and takes the product as installed when the
// program is there (setup/procedures.h, setup/install.cpp). Windows
// compares them without case.
const char* const POINTED_AT_NAMES[] = {PRODUCT_PROGRAM_NAME, "readme.txt"};

// Text as it goes into a one-line message: control bytes as \xNN.
std::string oneLine(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        out += c < 0x20 || c == 0x7F ? escaped : std::string(1, (char)c);
    }
    return out;
}

// An input file, open for reading.
class InputFile {
public:
    explicit InputFile(const std::string& path) : path_(path), fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) throw InputError(path + ": cannot open: " + std::strerror(errno));
    }
    ~InputFile() { close(fd_); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    // The size, taken before a byte is read: a folder, or a file larger
    // than any command reads, is refused.
    uint64_t size() const {
        struct stat st;
        if (fstat(fd_, &st) != 0) throw InputError(path_ + ": cannot read: " + std::strerror(errno));
        if (S_ISDIR(st.st_mode)) throw InputError(path_ + ": is a folder, not a file");
        if (S_ISREG(st.st_mode) && (uint64_t)st.st_size > MAX_INPUT_BYTES)
            throw InputError(path_ + ": is " + std::to_string(st.st_size) + " bytes; orlo-pack reads at most " +
                             std::to_string(MAX_INPUT_BYTES) + " (4 GiB - 1)");
        return S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
    }
    // The whole file; one that grows past the limit while it is read (or
    // a pipe that never ends) is refused at the limit.
    std::vector<uint8_t> read() const {
        std::vector<uint8_t> bytes;
        bytes.reserve(size());
        uint8_t chunk[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw InputError(path_ + ": read error: " + std::strerror(errno));
            if (n == 0) return bytes;
            if (bytes.size() + (uint64_t)n > MAX_INPUT_BYTES)
                throw InputError(path_ + ": is larger than " + std::to_string(MAX_INPUT_BYTES) +
                                 " bytes (4 GiB - 1), the most orlo-pack reads");
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
    }

private:
    std::string path_;
    int fd_;
};

std::vector<uint8_t> readFile(const std::string& path) { return InputFile(path).read(); }

// A write that failed: one line naming the path.
struct WriteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An open folder; files are created relative to it, so a folder swapped
// for a link after it was opened is never written through.
class Folder {
public:
    // The folder the user named (links in that path are the user's own).
    explicit Folder(const fs::path& path) : fd_(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), path_(path) {
        if (fd_ < 0) throw WriteError(path.string() + ": cannot open folder: " + std::strerror(errno));
    }
    Folder(Folder&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }
    Folder& operator=(Folder&& other) noexcept {
        std::swap(fd_, other.fd_);
        std::swap(path_, other.path_);
        return *this;
    }
    ~Folder() {
        if (fd_ >= 0) close(fd_);
    }

    // The subfolder `name`, created if missing. Refuses a link.
    Folder enter(const std::string& name) const {
        const fs::path path = path_ / name;
        if (mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST)
            throw WriteError(path.string() + ": cannot create folder: " + std::strerror(errno));
        const int fd = openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            struct stat st;
            if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                throw WriteError(path.string() + " is a link; links are not written through");
            throw WriteError(path.string() + ": cannot open folder: " + std::strerror(error));
        }
        return Folder(fd, path);
    }

    // Writes `name` whole or not at all: a new temporary file with a random
    // name, created exclusively (never through an existing name or link),
    // then renamed over `name` (a link of that name is replaced, not followed).
    void writeFile(const std::string& name, const uint8_t* bytes, size_t size) const {
        const fs::path path = path_ / name;
        std::random_device random;
        std::string temporary;
        int fd = -1;
        for (int attempt = 0; fd < 0 && attempt < 16; attempt++) {
            char unique[32];
            std::snprintf(unique, sizeof unique, ".orlo-%08x%08x.orlo-tmp", (unsigned)random(), (unsigned)random());
            temporary = unique;
            fd = openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) throw WriteError(path.string() + ": cannot create: " + std::strerror(errno));
        int error = 0;
        for (size_t done = 0; done < size && !error;) {
            const ssize_t n = ::write(fd, bytes + done, std::min<size_t>(size - done, 1 << 20));
            if (n > 0)
                done += (size_t)n;
            else if (n == 0)
                error = EIO;
            else if (errno != EINTR)
                error = errno;
        }
        if (close(fd) != 0 && !error) error = errno;
        if (!error && renameat(fd_, temporary.c_str(), fd_, name.c_str()) != 0) error = errno;
        if (error) {
            unlinkat(fd_, temporary.c_str(), 0);
            throw WriteError(path.string() + ": cannot write: " + std::strerror(error));
        }
    }

private:
    Folder(int fd, fs::path path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    fs::path path_;
};

// Writes OUT whole or not at all (see Folder::writeFile).
void writeOutput(const std::string& output, const std::vector<uint8_t>& bytes) {
    const fs::path out = output;
    if (out.filename().empty() || fs::is_directory(out)) throw InputError(output + ": is a folder, not a file");
    try {
        Folder(out.parent_path().empty() ? fs::path(".") : out.parent_path())
            .writeFile(out.filename(), bytes.data(), bytes.size());
    } catch (const WriteError& e) {
        throw InputError(e.what());
    }
}

std::string hex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string entryName(const PackageEntry& entry) {
    const int length = entryNameLength(&entry);
    return std::string(entry.name, length < 0 ? PACKAGE_NAME_SIZE : (size_t)length);
}

// The name as printed: control characters escaped, so it stays on its line.
std::string shownName(const PackageEntry& entry) {
    const std::string shown = oneLine(entryName(entry));
    return entryNameLength(&entry) < 0 ? shown + "<no terminator>" : shown;
}

PackageHeader headerOf(const std::vector<uint8_t>& image) {
    PackageHeader header;
    parsePackageHeader(image.data(), (uint32_t)image.size(), &header);
    return header;
}

const char* describe(EntryOutcome outcome) {
    switch (outcome) {
        case ENTRY_OK: return "ok";
        case ENTRY_OUT_OF_BOUNDS: return "region reaches past the end of the package";
        case ENTRY_EMPTY: return "entry is empty (size 0)";
        case ENTRY_DIGEST_MISMATCH: return "digest mismatch";
    }
    return "unknown";
}

struct Verdict {
    PackageHeader header;
    EntryOutcome outcomes[3];
    bool nameSafe[3];
    int sameNameAs[3];  // an earlier entry of the same name, or -1
    bool allGood() const {
        for (int i = 0; i < 3; i++)
            if (outcomes[i] != ENTRY_OK || !nameSafe[i] || sameNameAs[i] >= 0) return false;
        return true;
    }
};

// Verifies a copy of the image exactly the way the installer extracts it.
// Two entries of one name (Windows compares names without case) would be
// written to one file, the second over the first.
Verdict verifyImage(std::vector<uint8_t> image) {
    Verdict v;
    v.header = headerOf(image);
    unpackPackageImage(image.data(), (uint32_t)image.size(), v.outcomes);
    for (int i = 0; i < 3; i++) {
        v.nameSafe[i] = entryNameIsSafe(&v.header.entries[i]) == 1;
        v.sameNameAs[i] = -1;
        const std::string name = entryName(v.header.entries[i]);
        for (int j = i - 1; j >= 0; j--)
            if (strcasecmp(name.c_str(), entryName(v.header.entries[j]).c_str()) == 0) v.sameNameAs[i] = j;
    }
    return v;
}

int commandBuild(const std::vector<std::string>& args) {
    std::string output;
    std::vector<std::string> fileArguments;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "-o") {
            if (i + 1 >= args.size()) throw UsageError("-o needs a file name");
            output = args[++i];
        } else {
            fileArguments.push_back(args[i]);
        }
    }
    if (output.empty()) throw UsageError("build needs -o OUT");
    if (fileArguments.size() != 3)
        throw UsageError("build needs exactly three NAME=PATH files, got " + std::to_string(fileArguments.size()));

    std::string names[3];
    std::string paths[3];
    for (int i = 0; i < 3; i++) {
        const size_t eq = fileArguments[i].find('=');
        if (eq == std::string::npos) throw UsageError("'" + fileArguments[i] + "' is not NAME=PATH");
        names[i] = fileArguments[i].substr(0, eq);
        paths[i] = fileArguments[i].substr(eq + 1);
        if (names[i].empty()) throw InputError("entry " + std::to_string(i) + ": the name is empty");
        if (names[i].size() > 127)
            throw InputError("entry " + std::to_string(i) + ": name '" + names[i] + "' is " +
                             std::to_string(names[i].size()) + " bytes; at most 127 fit");
        PackageEntry probe{};
        std::memcpy(probe.name, names[i].data(), names[i].size());
        if (!entryNameIsSafe(&probe))
            throw InputError("entry " + std::to_string(i) + ": name '" + names[i] +
                             "' is not a plain relative Windows path (the installer would refuse it)");
        for (int j = 0; j < i; j++) {
            if (strcasecmp(names[i].c_str(), names[j].c_str()) == 0)
                throw InputError("entries " + std::to_string(j) + " and " + std::to_string(i) +
                                 " have the same name '" + names[i] + "'");
        }
    }
    // Sizes first: files that cannot fit together are refused unread.
    uint32_t sizes[3];
    for (int i = 0; i < 3; i++) {
        sizes[i] = (uint32_t)InputFile(paths[i]).size();
        if (sizes[i] == 0) throw InputError(paths[i] + ": file is empty; every entry needs at least one byte");
    }
    const uint32_t total = packageSizeFor(sizes);
    if (total == 0) throw InputError("the three files together are larger than 4 GiB");
    std::vector<uint8_t> contents[3];
    for (int i = 0; i < 3; i++) {
        contents[i] = readFile(paths[i]);
        if (contents[i].size() != sizes[i]) throw InputError(paths[i] + ": changed while it was read");
    }
    std::vector<uint8_t> image(total);
    const char* namePointers[3] = {names[0].c_str(), names[1].c_str(), names[2].c_str()};
    const uint8_t* dataPointers[3] = {contents[0].data(), contents[1].data(), contents[2].data()};
    if (buildPackageImage(namePointers, dataPointers, sizes, image.data(), total) != 0)
        throw InputError("package could not be built");
    // Read it back the way the installer will before it is written out.
    if (!verifyImage(image).allGood()) throw InputError("internal error: the new package does not verify");
    writeOutput(output, image);
    std::cout << output << ": " << total << " bytes\n";
    std::string missing;
    for (const char* wanted : POINTED_AT_NAMES) {
        bool found = false;
        for (const std::string& name : names) found = found || strcasecmp(name.c_str(), wanted) == 0;
        if (!found) missing += std::string(missing.empty() ? "" : " or ") + wanted;
    }
    if (!missing.empty())
        std::cerr << "orlo-pack: warning: no entry is named " << missing
                  << " (names compare without case), yet the installer's shortcuts and its check for an installed "
                     "product point at "
                  << POINTED_AT_NAMES[0] << " and " << POINTED_AT_NAMES[1] << " in the installation folder\n";
    return 0;
}

std::vector<std::string> entryLines(const PackageHeader& header) {
    std::vector<std::string> lines;
    for (int i = 0; i < 3; i++) {
        const PackageEntry& e = header.entries[i];
        char line[320];
        std::snprintf(line, sizeof line, "entry %d: %-32s offset %10u  size %10u  md5 %s", i, shownName(e).c_str(),
                      e.offset, e.size, hex(e.digest, 16).c_str());
        lines.push_back(line);
    }
    return lines;
}

// Text taken from a file, with control characters, quotes and backslashes
// escaped so that it stays on its line.
std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            if (c == '"' || c == '\\') out += '\\';
            out += (char)c;
        }
    }
    return out;
}

std::string quoted(const std::string& text) { return "\"" + printable(text) + "\""; }

std::string hex32(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

std::string dotted(uint32_t high, uint32_t low) {
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
           std::to_string(low & 0xFFFF);
}

// The lines inspect adds for an executable: resource table, version block,
// manifest. Everything is decoded before anything is printed, so a damaged
// file yields the error line alone.
std::vector<std::string> describeExecutable(const std::vector<PeResource>& resources) {
    std::vector<std::string> lines;
    lines.push_back("resources: " + std::to_string(resources.size()));
    const PeResource* version = nullptr;
    const PeResource* manifest = nullptr;
    for (const PeResource& resource : resources) {
        char head[96];
        std::snprintf(head, sizeof head, "resource %-15s %5u  language %5u  size %10zu",
                      resourceTypeName(resource.type).c_str(), resource.id, resource.language, resource.bytes.size());
        const std::string detail = describeResource(resource);
        lines.push_back(head + (detail.empty() ? "" : "  " + detail));
        if (resource.type == 16 && resource.id == 1 && !version) version = &resource;
        if (resource.type == 24 && resource.id == 1 && !manifest) manifest = &resource;
    }

    if (!version) {
        lines.push_back("version: none");
    } else {
        const VersionInfo info = parseVersionInfo(version->bytes);
        if (info.hasFixedPart) {
            lines.push_back("version: file " + dotted(info.fileVersionHigh, info.fileVersionLow) + ", product " +
                            dotted(info.productVersionHigh, info.productVersionLow) + ", flags mask " +
                            hex32(info.flagsMask, 1) + ", flags " + hex32(info.flags, 1) + ", os " + hex32(info.os, 1) +
                            ", type " + hex32(info.type, 1) + ", subtype " + hex32(info.subtype, 1));
        } else {
            lines.push_back("version: no fixed part");
        }
        for (const auto& table : info.stringTables) {
            lines.push_back("version strings " + printable(table.key) + ":");
            for (const auto& s : table.strings) lines.push_back("  " + printable(s.first) + " = " + quoted(s.second));
        }
        for (uint32_t t : info.translations)
            lines.push_back("version translation: language " + hex32(t & 0xFFFF, 4) + ", code page " +
                            hex32(t >> 16, 4));
    }

    if (!manifest) {
        lines.push_back("manifest: none");
    } else {
        const ManifestInfo info = parseManifest(manifest->bytes);
        if (!info.assemblyIdentity.empty()) {
            std::string line = "manifest assemblyIdentity:";
            for (const auto& a : info.assemblyIdentity) line += " " + printable(a.first) + "=" + quoted(a.second);
            lines.push_back(line);
        }
        for (const auto& d : info.descriptions) lines.push_back("manifest description: " + quoted(d));
        for (const auto& level : info.executionLevels)
            lines.push_back("manifest requestedExecutionLevel: " + printable(level));
        for (const auto& id : info.supportedOs) lines.push_back("manifest supportedOS: " + printable(id));
    }
    return lines;
}

// The installer looks up the package (RT_RCDATA 100), the background
// (RT_BITMAP 101), the icon group (RT_GROUP_ICON 100) and the icon images
// the group names by ID alone; Windows then picks among their languages by
// the thread's language. With more than one copy of any of them, Windows
// may load another one than the one checked here, so the file is refused.
void refuseAmbiguousLookups(const std::vector<PeResource>& resources) {
    std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> languages;
    std::vector<std::pair<uint32_t, uint32_t>> lookedUp = {{10, 100}, {2, 101}, {14, 100}};
    for (const PeResource& r : resources) {
        languages[{r.type, r.id}].push_back(r.language);
        if (r.type != 14 || r.id != 100) continue;
        const std::vector<uint8_t>& g = r.bytes;
        const size_t count = g.size() >= 6 ? (g[4] | g[5] << 8) : 0;
        for (size_t at = 6; at - 6 < 14 * count && at + 14 <= g.size(); at += 14)
            lookedUp.push_back({3, (uint32_t)(g[at + 12] | g[at + 13] << 8)});
    }
    for (const auto& key : lookedUp) {
        const std::vector<uint32_t>& found = languages[key];
        if (found.size() < 2) continue;
        std::string list;
        for (uint32_t language : found) list += (list.empty() ? "" : ", ") + std::to_string(language);
        throw PeError(resourceTypeName(key.first) + " " + std::to_string(key.second) + " is present " +
                      std::to_string(found.size()) + " times (languages " + list +
                      "); Windows would pick one by the user's language");
    }
}

// What FILE holds: a package, or an installer whose resources are read
// whole (any damage refuses it) and whose package is RT_RCDATA 100.
struct Input {
    std::vector<uint8_t> package;
    std::vector<std::string> executableLines;  // inspect's lines on the resources
};

Input openInput(const std::string& path, const std::vector<uint8_t>& file) {
    Input input;
    if (!looksLikePe(file)) {
        input.package = file;
    } else {
        try {
            std::vector<PeResource> resources = readPeResources(file);
            refuseAmbiguousLookups(resources);
            input.executableLines = describeExecutable(resources);
            bool found = false;
            for (PeResource& r : resources) {
                if (r.type != 10 || r.id != 100) continue;
                input.package = std::move(r.bytes);
                found = true;
            }
            if (!found) throw InputError(path + ": PE file has no package (resource RT_RCDATA 100)");
        } catch (const PeError& e) {
            throw InputError(path + ": " + e.what());
        }
    }
    if (input.package.size() > 0xFFFFFFFFu) throw InputError(path + ": package is larger than 4 GiB");
    if (input.package.size() <= PACKAGE_HEADER_SIZE)
        throw InputError(path + ": package is truncated (" + std::to_string(input.package.size()) +
                         " bytes; a package holds more than 468)");
    return input;
}

int commandInspect(const std::vector<std::string>& args) {
    if (args.size() != 1) throw UsageError("inspect needs one FILE");
    for (const std::string& line : inspectFile(args[0], readFile(args[0]))) std::printf("%s\n", line.c_str());
    return 0;
}

int commandVerify(const std::vector<std::string>& args) {
    if (args.size() != 1) throw UsageError("verify needs one FILE");
    const VerifyReport report = verifyFile(args[0], readFile(args[0]));
    for (const std::string& line : report.lines) std::printf("%s\n", line.c_str());
    return report.verified ? 0 : 1;
}

// Extracts in the installer's order: entry k is descrambled in place,
// checked and written before entry k+1's region is touched, so a later
// region that overlaps an earlier one cannot change a file already checked.
// An entry that fails is reported and counted; the others still go out.
int commandExtract(const std::vector<std::string>& args) {
    if (args.size() != 2) throw UsageError("extract needs FILE and DIR");
    std::vector<uint8_t> image = openInput(args[0], readFile(args[0])).package;
    const PackageHeader header = headerOf(image);
    const fs::path dir = args[1];
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw InputError(dir.string() + ": cannot create: " + ec.message());
    std::optional<Folder> top;
    try {
        top.emplace(dir);
    } catch (const WriteError& e) {
        throw InputError(e.what());
    }
    const Folder* const root = &*top;
    PackageChain chain;
    startPackageChain(&chain);
    int failed = 0;
    for (int i = 0; i < 3; i++) {
        const PackageEntry& e = header.entries[i];
        const EntryOutcome outcome = unpackEntryInPlace(image.data(), (uint32_t)image.size(), &e, &chain);
        std::string problem;
        if (outcome != ENTRY_OK) {
            problem = describe(outcome);
        } else if (!entryNameIsSafe(&e)) {
            problem = "name would leave " + dir.string();
        } else {
            // A safe name: backslash-separated components, none "." or "..".
            const std::string name = entryName(e);
            try {
                std::optional<Folder> inner;
                const Folder* folder = root;
                size_t start = 0;
                for (size_t end; (end = name.find('\\', start)) != std::string::npos; start = end + 1) {
                    inner = folder->enter(name.substr(start, end - start));
                    folder = &*inner;
                }
                folder->writeFile(name.substr(start), image.data() + e.offset, e.size);
                std::string relative = name;
                std::replace(relative.begin(), relative.end(), '\\', '/');
                std::printf("%s\n", (dir / relative).string().c_str());
            } catch (const WriteError& w) {
                problem = w.what();
            }
        }
        if (!problem.empty()) {
            std::fprintf(stderr, "orlo-pack: error: entry %d %s: not written: %s\n", i, shownName(e).c_str(),
                         oneLine(problem).c_str());
            failed++;
        }
    }
    return failed ? 1 : 0;
}

// Writes the package FILE holds (an installer's RT_RCDATA 100) byte for
// byte, so that it can be compared with the one the installer was built
// around.
int commandPackage(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[0] != "-o") throw UsageError("package needs -o OUT and one FILE");
    const std::vector<uint8_t> package = openInput(args[2], readFile(args[2])).package;
    writeOutput(args[1], package);
    std::cout << args[1] << ": " << package.size() << " bytes\n";
    return 0;
}

}  // namespace

std::vector<std::string> inspectFile(const std::string& path, const std::vector<uint8_t>& file) {
    const Input input = openInput(path, file);
    std::vector<std::string> lines = {"package: " + std::to_string(input.package.size()) + " bytes"};
    for (const std::string& line : entryLines(headerOf(input.package))) lines.push_back(line);
    lines.insert(lines.end(), input.executableLines.begin(), input.executableLines.end());
    return lines;
}

VerifyReport verifyFile(const std::string& path, const std::vector<uint8_t>& file) {
    const Verdict v = verifyImage(openInput(path, file).package);
    VerifyReport report;
    for (int i = 0; i < 3; i++) {
        const std::string head = "entry " + std::to_string(i) + " " + shownName(v.header.entries[i]) + ": ";
        if (v.outcomes[i] != ENTRY_OK)
            report.lines.push_back(head + "FAILED: " + describe(v.outcomes[i]));
        else if (!v.nameSafe[i])
            report.lines.push_back(head + "FAILED: name is not a plain relative path");
        else if (v.sameNameAs[i] >= 0)
            report.lines.push_back(head + "FAILED: same name as entry " + std::to_string(v.sameNameAs[i]) +
                                   " (names compare without case)");
        else
            report.lines.push_back(head + "ok");
    }
    report.verified = v.allGood();
    report.lines.push_back(report.verified ? "package verifies" : "package does NOT verify");
    return report;
}

int runOrloPack(std::vector<std::string> args) {
    try {
        if (args.empty()) throw UsageError("no command given");
        if (args[0] == "-h" || args[0] == "--help") {
            std::cout << USAGE;
            return 0;
        }
        const std::string command = args[0];
        args.erase(args.begin());
        if (command == "build") return commandBuild(args);
        if (command == "inspect") return commandInspect(args);
        if (command == "verify") return commandVerify(args);
        if (command == "extract") return commandExtract(args);
        if (command == "package") return commandPackage(args);
        throw UsageError("unknown command '" + command + "'");
    } catch (const UsageError& e) {
        std::cerr << "orlo-pack: error: " << oneLine(e.what()) << " (orlo-pack --help lists the commands)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "orlo-pack: error: " << oneLine(e.what()) << "\n";
        return 2;
    }
}

}  // namespace orlo
