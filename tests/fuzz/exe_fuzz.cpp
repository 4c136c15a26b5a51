// libFuzzer target over orlo-pack's inspect and verify of whole files,
// installers and packages, through the code the commands run: whatever the
// bytes, each ends with its lines or with one InputError of one line, the
// two agree on refusing, and nothing reads outside its buffer (ASan, UBSan).
// The run's -timeout and -malloc_limit_mb catch work or memory out of
// proportion to the input.
//
// Build and long run: docs/hardening.md.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "package/package.h"
#include "tools/orlo_pack_lib.h"

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

bool oneLine(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

// For a package file, verify's answer computed again from the pure code.
bool packageVerifies(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> image = file;
    if (unpackPackageImage(image.data(), (uint32_t)image.size(), nullptr) != 0) return false;
    for (int i = 0; i < 3; i++)
        if (!entryNameIsSafe(reinterpret_cast<const PackageEntry*>(file.data() + 156 * i))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    std::string inspectRefusal, verifyRefusal;
    std::vector<std::string> inspected;
    orlo::VerifyReport verified;
    try {
        try {
            inspected = orlo::inspectFile("in.exe", file);
        } catch (const orlo::InputError& e) {
            inspectRefusal = e.what();
        }
        try {
            verified = orlo::verifyFile("in.exe", file);
        } catch (const orlo::InputError& e) {
            verifyRefusal = e.what();
        }
    } catch (...) {
        __builtin_trap();  // any other exception escapes the commands' handling
    }
    require(inspectRefusal == verifyRefusal);
    if (!inspectRefusal.empty()) {
        require(oneLine(inspectRefusal) && inspectRefusal.rfind("in.exe: ", 0) == 0);
        return 0;
    }
    require(inspected.size() >= 4 && inspected[0].rfind("package: ", 0) == 0);
    for (const std::string& line : inspected) require(oneLine(line));
    require(verified.lines.size() == 4);
    for (const std::string& line : verified.lines) require(oneLine(line));
    const bool executable = size >= 2 && data[0] == 'M' && data[1] == 'Z';
    if (!executable) require(verified.verified == packageVerifies(file));
    return 0;
}
