// orlo-pack's commands as a library, shared by the tool and its fuzz target.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orlo {

// Input that cannot be read, or is refused as a whole (exit code 2). The
// message is one line and names the file.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The lines `orlo-pack inspect` prints for FILE, whose bytes are `file`: a
// package, or an installer whose package is its resource RT_RCDATA 100.
// Throws InputError.
std::vector<std::string> inspectFile(const std::string& path, const std::vector<uint8_t>& file);

// The lines `orlo-pack verify` prints, and whether every entry verified.
// Throws InputError.
struct VerifyReport {
    std::vector<std::string> lines;
    bool verified = false;
};
VerifyReport verifyFile(const std::string& path, const std::vector<uint8_t>& file);

// The whole command line, without the program's name: runs the command,
// prints its output and errors, and returns the exit code (0, 1 or 2).
int runOrloPack(std::vector<std::string> args);

}  // namespace orlo
