// The packaging tool as a release engineer uses it: build, inspect, verify and extract on packages and installers
// built here, and a one-line error with a defined exit code for every kind of bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/support/test_package.h"
#include "tests/support/test_pe.h"

namespace fs = std::filesystem;
using namespace orlotest;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
Bytes read(const std::string& path) {  // empty for a folder or a missing file
    std::ifstream in(path, std::ios::binary);
    return fs::is_directory(path) ? Bytes() : Bytes(std::istreambuf_iterator<char>(in), {});
}

class OrloPack : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_), fs::create_directories(dir_ + "/victim");  // links point there: nothing may be written
        for (const auto& f : files_) write(f.name, f.bytes), build_ += " " + f.name + "=" + path(f.name);
        write("victim/f", kept_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(path(name), std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
    }
    int run(const std::string& arguments) {  // the exit code; out_ and err_ keep what it printed
        // No command needs more memory than a file of a few MB: a run that reads a huge file whole fails.
        const int status = std::system(("ASAN_OPTIONS=max_allocation_size_mb=512 " ORLO_PACK_PATH " " + arguments +
                                        " >" + path("o") + " 2>" + path("e"))
                                           .c_str());
        const Bytes out = read(path("o")), err = read(path("e"));
        out_.assign(out.begin(), out.end()), err_.assign(err.begin(), err.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& inspect(std::string n, const Bytes& b) { return write(n, b), run("inspect " + path(n)), out_; }
    const std::string dir_ = (fs::temp_directory_path() / "orlo-pack-test-").string() + std::to_string(getpid()) + "-" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::vector<TestFile> files_ = sampleFiles();
    Bytes package_ = buildTestPackage(files_), kept_ = {'k', 'e', 'p', 't'};
    std::string build_ = "build -o " + path("p.pkg"), out_, err_;  // build_: and the three files
};

// Build writes the in-memory builder's package, replacing links at its output and temporary name, and warns when no
// entry has a name the installer points at; verify names each failing entry (two entries of one name fail) and changes
// nothing; an installer (its package is RT_RCDATA 100) is decoded after the package's lines, and its package written
// out byte for byte.
TEST_F(OrloPack, BuildsVerifiesAndInspectsPackagesAndInstallers) {
    for (const char* link : {"p.pkg", "p.pkg.orlo-tmp"}) fs::create_symlink(path("victim/f"), path(link));
    ASSERT_EQ(0, run(build_)) << err_;
    EXPECT_TRUE(read(path("p.pkg")) == package_ && !fs::is_symlink(path("p.pkg")) && read(path("victim/f")) == kept_);
    EXPECT_EQ("", err_);
    // Each name the installer points at that no entry has, compared without case, is named in one warning line.
    const std::string f = path(files_[2].name);
    for (const auto& [first, second, missing] :
         {std::tuple<std::string, std::string, std::string>{"ORLOCAST.EXE", "README.TXT", ""},
          {"prog.exe", "readme.txt", "OrloCast.exe"},
          {"a", "b", "OrloCast.exe or readme.txt"}}) {
        EXPECT_EQ(0, run("build -o " + path("n.pkg") + " " + first + "=" + f + " " + second + "=" + f + " c=" + f));
        EXPECT_EQ(missing.empty() ? "" : "orlo-pack: warning: no entry is named " + missing + " (",
                  err_.substr(0, err_.find('(') + 1));
        EXPECT_EQ(missing.empty() ? 0 : 1, std::count(err_.begin(), err_.end(), '\n'));
    }
    EXPECT_EQ(0, run("verify " + path("p.pkg"))) << out_;
    Bytes damaged = package_;
    setEntryName(damaged, 0, "..\\x"), entryAt(damaged, 1)->digest[3] ^= 1, setEntryName(damaged, 2, "README.TXT");
    write("d.pkg", damaged);
    EXPECT_EQ(1, run("verify " + path("d.pkg")));
    for (const std::string& line : {std::string("..\\x: FAILED"), files_[1].name + ": FAILED",
                                    std::string("README.TXT: FAILED: same name as entry 1")})
        EXPECT_TRUE(has(out_, line)) << out_;
    EXPECT_EQ(read(path("d.pkg")), damaged) << "verify changed the file it reads";

    // clang-format off
    const std::string lines[] = {
        "resources: 6",
        "resource RT_BITMAP         101  language  1033  size         64  bitmap 3x2, 24 bpp, BI_RGB, top-down",
        "resource RT_ICON             1  language  1033  size        296  icon image 16x16, 4 bpp",
        "resource RT_RCDATA         100  language  1033  size       5276",
        "resource RT_GROUP_ICON     100  language  1033  size         20  icon group: #1 16x16 4 bpp",
        "resource RT_VERSION          1  language  1033  size        288",  // 92 + 128 (strings) + 68 (translation)
        "resource RT_MANIFEST         1  language  1033  size        368",  // MANIFEST's bytes
        "version: file 2.3.4.5, product 1.10.11.12, flags mask 0x0, flags 0x0, os 0x0, type 0x0, subtype 0x0",
        "version strings 000004b0:",
        "  CompanyName = \"Caf\xC3\xA9 \xF0\x9F\x93\xBB \\\"Radio\\\"\\x09\\\\\"",
        "version translation: language 0x0000, code page 0x04b0",
        "manifest assemblyIdentity: name=\"A&B\" version=\"2.0.0.0\"",
        "manifest description: \"Fish & chips\"",
        "manifest requestedExecutionLevel: highestAvailable",
        "manifest supportedOS: {one}"};
    // clang-format on
    std::string expected = inspect("p.pkg", package_);
    EXPECT_TRUE(has(expected, "entry 0: Orlocast.exe                     offset        468")) << expected;
    for (const std::string& line : lines) expected += line + "\n";
    Bytes installer = soundInstaller(package_);
    EXPECT_EQ(expected, inspect("setup.exe", installer));
    EXPECT_EQ(0, run("verify " + path("setup.exe")));
    for (const std::string& file : {"setup.exe", "p.pkg"}) {
        EXPECT_EQ(0, run("package -o " + path("e.pkg") + " " + path(file))) << err_;
        EXPECT_EQ(package_, read(path("e.pkg"))) << file;
    }
    put16(installer, SECTION_OFFSET + 14, 3);  // the first three types only: no version, no manifest
    EXPECT_TRUE(has(inspect("bare.exe", installer), "\nversion: none\nmanifest: none\n")) << out_;
}

// Bad usage, unreadable input, executables whose package Windows could read otherwise than the tool: exit 2, nothing
// on stdout or written, one error line naming a word of the cause, and nothing else.
TEST_F(OrloPack, RefusesBadInputWithOneLineAndExitTwo) {
    write("empty.bin", {}), write("short.pkg", Bytes(468, 0)), write("notpe.exe", {'M', 'Z', 0, 0});
    Bytes cut = soundInstaller(package_);
    cut.pop_back(), write("cut.exe", cut);
    write("huge.bin", {}), fs::resize_file(path("huge.bin"), (1ull << 32) + 1);
    const std::string o = "build -o " + path("x") + " ", c = path(files_[2].name);
    const std::string ab = "a=" + path(files_[0].name) + " b=" + path(files_[1].name) + " ";
    // clang-format off
    std::vector<std::pair<std::string, std::string>> cases = {
        {"", "command"}, {"frobnicate", "unknown"}, {"build " + ab + "c=" + c, "-o"}, {o + ab, "three"},
        {o + ab + "c=" + path("missing"), "missing"}, {o + ab + "c=" + path("empty.bin"), "empty"},
        {o + ab + std::string(128, 'n') + "=" + c, "127"}, {o + ab + "'..\\c=" + c + "'", "relative"},
        {o + ab + "A=" + c, "same name"}, {o + ab + "noequals", "NAME=PATH"}, {"build -o " + dir_ + " " + ab + "c=" + c, "folder"},
        {"verify " + path("short.pkg"), "truncated"}, {"inspect " + path("missing"), "cannot open"},
        {"inspect " + path("notpe.exe"), "PE"}, {"verify " + dir_, "folder"}, {"extract " + path("short.pkg"), "DIR"},
        {"extract " + c + " " + path(files_[0].name), "create"}, {"package -o " + path("x"), "package needs"},
        {"verify " + path("cut.exe"), "past the file's end"}, {"verify " + path("huge.bin"), "4294967297 bytes"},
        {o + ab + "c=" + path("huge.bin"), "4294967297 bytes"}, {o + ab + "'x\ny=" + c + "'", "'x\\x0ay'"}};
    // clang-format on
    for (const auto& [what, file, word] : refusedExecutables(package_)) {
        const std::string name = std::to_string(cases.size()) + ".exe";
        write(name, file);
        for (const std::string command : {"inspect ", "verify ", "extract "})
            cases.push_back({command + path(name) + (command == "extract " ? " " + path("x") : ""), word});
    }
    for (const auto& [arguments, word] : cases) {
        const int exitCode = run(arguments);
        const size_t end = err_.find('\n');
        EXPECT_TRUE(exitCode == 2 && out_.empty() && err_.rfind("orlo-pack: error: ", 0) == 0 && has(err_, word) &&
                    end + 1 == err_.size())
            << exitCode << " " << arguments + "\n" + err_ + out_;
    }
    EXPECT_FALSE(fs::exists(path("x")));
}

// Extract in the installer's order: entry k is descrambled, checked and written before entry k+1's region is touched.
// An entry that fails or cannot be written is named on one error line (exit 1), the others still go out.
TEST_F(OrloPack, ExtractWritesEachEntryInTurnGoesOnPastFailuresAndNeverFollowsLinks) {
    // Entry 2 made of entry 0's first 100 stored bytes, its digest matching them as that order leaves them, or not.
    Bytes overlaps[2] = {package_, package_}, entry2;
    for (Bytes& image : overlaps) {
        PackageEntry* third = entryAt(image, 2);
        third->offset = entryAt(image, 0)->offset, third->size = 100;
        Bytes copy = image;
        PackageChain chain;
        startPackageChain(&chain);
        for (int i = 0; i < 3; i++) unpackEntryInPlace(copy.data(), (uint32_t)copy.size(), entryAt(image, i), &chain);
        entry2.assign(copy.begin() + third->offset, copy.begin() + third->offset + 100);
        if (&image == overlaps) md5Digest(entry2.data(), 100, third->digest);
    }
    const std::string out = path("a/out"), victim = path("victim"), a = files_[0].name, b = files_[1].name;
    // Names of entries 0 and 1 (build may refuse them), the package, what is planted, the entry not written, its error.
    const std::tuple<std::string, std::string, Bytes, std::function<void()>, int, std::string> cases[] = {
        {a, b, package_, [] {}, -1, ""},
        {a, b, overlaps[0], [] {}, -1, ""},
        {a, b, overlaps[1], [] {}, 2, "digest"},
        {a, "..\\..\\escaped.txt", package_, [] {}, 1, "leave"},
        {"docs", "docs\\readme.txt", package_, [] {}, 1, "docs"},  // a file where a folder is needed
        {a, b, package_, [&] { fs::create_directories(out + "/" + files_[2].name); }, 2, files_[2].name},
        {a, "docs\\readme.txt", package_, [&] { fs::create_directory_symlink(victim, out + "/docs"); }, 1, "link"},
        {a, b, package_, [&] { fs::create_symlink(victim + "/f", out + "/" + a + ".orlo-tmp"); }, -1, ""},
        {a, b, package_, [&] { fs::create_symlink(victim + "/f", out + "/" + a); }, -1, ""}};
    for (const auto& [first, second, image, plant, failing, word] : cases) {
        Bytes named = image;
        setEntryName(named, 0, first), setEntryName(named, 1, second), write("p.pkg", named);
        fs::remove_all(out), fs::create_directories(out), plant();
        SCOPED_TRACE(second + " " + std::to_string(failing));
        EXPECT_EQ(failing < 0 ? 0 : 1, run("extract " + path("p.pkg") + " " + out)) << err_;
        EXPECT_TRUE(has(err_, word)) << err_;
        if (failing >= 0) EXPECT_EQ(0u, err_.find("orlo-pack: error: entry " + std::to_string(failing))) << err_;
        // Each entry whole where its name says (entry 2 of an overlap as extract leaves it), or nothing there.
        for (std::string name : {first, second, files_[2].name}) {
            const int i = name == first ? 0 : name == second ? 1 : 2;
            std::replace(name.begin(), name.end(), '\\', '/');
            const Bytes& whole = i == 2 && image != package_ ? entry2 : files_[i].bytes;
            EXPECT_EQ(read(out + "/" + name), i == failing ? Bytes() : whole) << name;
        }
        EXPECT_TRUE(read(victim + "/f") == kept_ && !fs::exists(victim + "/readme.txt"));
    }
    write("o.pkg", overlaps[0]);  // verify reads the overlap as the installer does
    EXPECT_EQ(0, run("verify " + path("o.pkg")));
}

}  // namespace
