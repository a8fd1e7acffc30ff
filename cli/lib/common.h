// Small pieces every pennaro sub-command shares: where the effect is, the
// options every command takes, and files written without ever leaving a
// half-written one behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace pennaro_cli {

// What every command's exit status means. Scripts and farm schedulers act on
// these, so a command never invents its own.
namespace exit_status {
constexpr int OK = 0;
constexpr int FAILED = 1;       // a read, render or write failed, or an input was refused
constexpr int USAGE = 2;        // the command line itself is wrong
constexpr int NEGATIVE = 3;     // the answer is no: compare found differences, a search found nothing
constexpr int INTERRUPTED = 128;  // plus the signal: 130 after Ctrl-C, 143 after SIGTERM
}  // namespace exit_status

// The table above as the help texts print it.
extern const char *const EXIT_STATUS_HELP;

// A failure to report to the user as it stands ("pennaro: <what>").
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line that cannot be carried out as written (a value outside its
// set or range, options that cannot go together): exit status 2, so that a
// script can tell a mistake of its own from a file that failed.
struct UsageError : ToolError {
    using ToolError::ToolError;
};

// The name in `names` closest to `given` in edit distance, when it is close
// enough to be the one meant; "" otherwise.
std::string closestName(const std::string &given, const std::vector<std::string> &names);

struct CommonOptions {
    std::string plugin;  // empty: the effect built next to the tool
};

// Adds --plugin PATH, --max-memory SIZE (lib/memory_budget.h) and --version
// to a sub-command.
void addCommonOptions(CLI::App &app, CommonOptions &options);

// The effect library: `requested` when given (a bare name is a file in the
// current folder, never a search of the library path), else
// $PENNARO_PLUGIN (the same way), else the one next to the tool, else the
// installed one (lib/pennaro beside the tool's bin folder).
std::filesystem::path resolvePluginPath(const std::string &requested);

// What --version prints: the tool's version and the version the effect
// found that way reports to the host at global set-up.
std::string versionText(const std::string &requestedPlugin);

std::vector<uint8_t> readFileBytes(const std::filesystem::path &path);

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

// fork() for a worker process that an interrupt of this one must not leave
// behind: SIGINT, SIGTERM or SIGHUP is passed on to the workers, and their
// exit is waited for (so their temporary files are gone) before this
// process dies of it. Call forgetWorker(pid) once the worker was waited for.
int forkWorker();
void forgetWorker(int pid);

// Runs a sub-command body, turning ToolError and CLI11 parse results into
// messages and exit codes: --help and --version 0, a usage error (CLI11's
// own or UsageError) 2, any other failure 1. The help ends with the table
// of exit statuses.
int runGuarded(CLI::App &app, int argc, char **argv, int (*body)(void *), void *context);

}  // namespace pennaro_cli
