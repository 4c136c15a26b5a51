// libFuzzer target over orlo-pack's inspect and verify of whole files, as the commands run them: whatever the bytes,
// each gives lines or one InputError, each of one line, the two agree on refusing, nothing reads outside its buffer
// (ASan, UBSan); -timeout and -malloc_limit_mb catch work or memory out of proportion. Long run: docs/hardening.md.
#include "tools/orlo_pack_lib.h"

static bool oneLine(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    std::string refusal[2];
    std::vector<std::string> lines;
    for (int verify = 0; verify < 2; verify++) {
        try {
            const auto more = verify ? orlo::verifyFile("in.exe", file).lines : orlo::inspectFile("in.exe", file);
            lines.insert(lines.end(), more.begin(), more.end());
        } catch (const orlo::InputError& e) {
            refusal[verify] = e.what();
        }
    }
    bool sound = refusal[0] == refusal[1] &&
                 (refusal[0].empty() ? lines.size() >= 8 : oneLine(refusal[0]) && refusal[0].rfind("in.exe: ", 0) == 0);
    for (const std::string& line : lines) sound = sound && oneLine(line);
    if (!sound) __builtin_trap();
    return 0;
}
