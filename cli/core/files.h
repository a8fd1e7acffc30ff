// Reading files, and writing them without ever leaving a half-written one
// behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pennaro_cli {

// The whole file; more than `maxBytes` (by default the memory budget) is
// refused before it is read, or as soon as a pipe or device passes it.
std::vector<uint8_t> readFileBytes(const std::filesystem::path &path, uint64_t maxBytes = 0);
// Settings files (keyframes, preferences) are read whole and are small.
inline constexpr uint64_t SETTINGS_FILE_LIMIT = uint64_t(16) << 20;

// Where a command's output goes. A regular file (or a new name) is written
// to a temporary file in its folder and renamed into place, so a failure
// never leaves a half-written file or destroys the old one (the target may
// be the file that was read); the replaced file's mode, and its owner where
// the system allows, carry over. A symlink is followed and its target
// replaced that way, so the link stays. A character device or FIFO (such
// as /dev/null) is written as it stands, never replaced, and "-" is
// standard output. A folder in the way is an error naming it.
void writeFileAtomically(const std::filesystem::path &path, const void *data, size_t size);

// The name a file called `name` is first written under, beside it:
// ".<name>.pennaro-<host>-<pid>-<6 hex digits>.tmp".
std::string temporaryName(const std::string &name, long pid, const std::string &random);
inline void writeFileAtomically(const std::filesystem::path &path, const std::vector<uint8_t> &bytes) {
    writeFileAtomically(path, bytes.data(), bytes.size());
}
inline void writeFileAtomically(const std::filesystem::path &path, const std::string &text) {
    writeFileAtomically(path, text.data(), text.size());
}

// The same write in two halves, so that the wait for the disk can overlap
// other work: start() writes the temporary file and asks the system to
// begin writing it out; finish() waits until it is on the disk and renames
// it into place (both throw ToolError). A write that is dropped unfinished
// removes its temporary file, and so does SIGINT, SIGTERM or SIGHUP: the
// process then dies of the signal as it would have (exit status 130, 143).
// Temporary names hold the host and the process
// (".<name>.pennaro-<host>-<pid>-<random>.tmp"), so that the first write
// into a folder can remove those left by a process of this host that no
// longer exists (killed with SIGKILL, or the machine lost power).
class AtomicWrite {
public:
    AtomicWrite() = default;
    AtomicWrite(AtomicWrite &&other) noexcept;
    AtomicWrite &operator=(AtomicWrite &&other) noexcept;
    AtomicWrite(const AtomicWrite &) = delete;
    AtomicWrite &operator=(const AtomicWrite &) = delete;
    ~AtomicWrite();

    static AtomicWrite start(const std::filesystem::path &path, const void *data, size_t size);
    // start() in two steps: open() makes the temporary file (or opens the
    // device or standard output), write() fills it. Only open() creates a
    // file, so a thread that only writes and finishes can never race the
    // interrupt handler into leaving a file behind.
    static AtomicWrite open(const std::filesystem::path &path);
    void write(const void *data, size_t size);
    void finish();
    bool pending() const { return fd_ >= 0; }
    // The open file, for a writer that must seek in it (a movie's index
    // is written last, over space left at the start).
    int descriptor() const { return fd_; }

private:
    void abandon() noexcept;
    std::filesystem::path path_, temp_;  // temp_ empty: written directly
    std::filesystem::path shown_;        // the name messages give
    int fd_ = -1;
    int slot_ = -1;  // where the interrupt handler finds temp_
};

// Removes the temporary files of this tool in `folder` whose process is
// gone (same host, no such PID). Done once per folder by the first write;
// called again after a worker was killed.
void removeStaleTemporaries(const std::filesystem::path &folder);

// A file as the system knows it (device and inode), whatever name reaches
// it: two names with the same identity are one file.
struct FileIdentity {
    uint64_t device = 0, inode = 0;
    auto operator<=>(const FileIdentity &) const = default;
};
// Follows symlinks; false when there is no such file (or it is "-").
bool fileIdentity(const std::filesystem::path &path, FileIdentity &identity);

}  // namespace pennaro_cli
