// Runs the pennaro tool as a user would, for tests that check it end to end.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace pennaro_test {

struct ToolRun {
    int status = -1;     // exit status, -1 when it did not exit normally
    std::string output;  // stdout and stderr together
};

inline std::string shellQuote(const std::string &arg) {
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

// `args` without the tool itself; the effect built with the tests is used.
inline ToolRun runTool(const std::vector<std::string> &args) {
    std::string command = shellQuote(PENNARO_CLI_PATH);
    for (const auto &a : args) command.append(" ").append(shellQuote(a));
    command.append(" --plugin ").append(shellQuote(PENNARO_PLUGIN_PATH)).append(" 2>&1");
    ToolRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A fresh empty folder for one test's files.
inline std::filesystem::path scratchDir(const std::string &name) {
    auto dir = std::filesystem::temp_directory_path() / ("pennaro-cli-test-" + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace pennaro_test
