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

// A failure to report to the user as it stands ("pennaro: <what>").
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct CommonOptions {
    std::string plugin;  // empty: the effect built next to the tool
};

// Adds --plugin PATH and --version to a sub-command.
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

// Runs a sub-command body, turning ToolError and CLI11 parse results into
// messages and exit codes.
int runGuarded(CLI::App &app, int argc, char **argv, int (*body)(void *), void *context);

}  // namespace pennaro_cli
