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

struct CommonOptions {
    std::string plugin;  // empty: the effect built next to the tool
};

// Adds --plugin PATH, --max-memory SIZE (lib/memory_budget.h) and --version
// to a sub-command.
void addCommonOptions(CLI::App &app, CommonOptions &options);

// The effect library: `requested` when given, else the one next to the tool.
std::filesystem::path resolvePluginPath(const std::string &requested);

std::vector<uint8_t> readFileBytes(const std::filesystem::path &path);

// Writes to a temporary file in the same folder, then renames it into place,
// so a failure never leaves a half-written file or destroys the old one
// (the target may be the file that was read).
void writeFileAtomically(const std::filesystem::path &path, const void *data, size_t size);
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
// removes its temporary file.
class AtomicWrite {
public:
    AtomicWrite() = default;
    AtomicWrite(AtomicWrite &&other) noexcept;
    AtomicWrite &operator=(AtomicWrite &&other) noexcept;
    AtomicWrite(const AtomicWrite &) = delete;
    AtomicWrite &operator=(const AtomicWrite &) = delete;
    ~AtomicWrite();

    static AtomicWrite start(const std::filesystem::path &path, const void *data, size_t size);
    void finish();
    bool pending() const { return fd_ >= 0; }

private:
    void abandon() noexcept;
    std::filesystem::path path_, temp_;
    int fd_ = -1;
};

// Runs a sub-command body, turning ToolError and CLI11 parse results into
// messages and exit codes.
int runGuarded(CLI::App &app, int argc, char **argv, int (*body)(void *), void *context);

}  // namespace pennaro_cli
