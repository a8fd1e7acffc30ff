// The folder the page saves drawings into (--save-dir). Everything in it
// is reached through the folder opened once, never by a path: a name in it
// that is a symlink, FIFO or device is refused, not followed or opened, and
// a save writes NAME.json and NAME.bin as a pair, under a lock per name that
// other servers saving into the same folder take too.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "cli/core/errors.h"
#include "cli/core/files.h"

namespace pennaro_cli {

// A name the folder holds that a save may not replace.
struct SaveRefused : ToolError {
    using ToolError::ToolError;
};

class SaveFolder {
public:
    // Creates the folder if need be and opens it. Throws ToolError.
    explicit SaveFolder(const std::string &path);
    ~SaveFolder();
    SaveFolder(const SaveFolder &) = delete;
    SaveFolder &operator=(const SaveFolder &) = delete;

    // Writes BASE.json and BASE.bin: each to a new temporary file in the
    // folder, then both renamed into place while .BASE.lock is locked
    // (flock, which the kernel releases with a killed process). Refuses a
    // name that is anything but a regular file, or one of `inputs`.
    // Returns the two paths as written.
    std::vector<std::string> savePair(const std::string &base, const std::string &json,
                                      const std::vector<uint8_t> &block, const std::set<FileIdentity> &inputs);

    const std::string &path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace pennaro_cli
