// Runs the pennaro tool as a user would, for tests that check it end to end.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pennaro_test {

struct ToolRun {
    int status = -1;     // exit status, -1 when it did not exit normally
    std::string output;  // stdout and stderr together
    bool says(const std::string &part) const { return output.find(part) != std::string::npos; }
};

inline std::string shellQuote(const std::string &arg) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// `args` without the tool itself; the effect built with the tests is used.
// `environment` holds NAME=value words set for the tool alone. The output
// goes through a file rather than a pipe, so that the call returns when the
// tool exits even if a process it started lives on.
inline ToolRun runTool(const std::vector<std::string> &args, const std::string &environment = "") {
    static int runs = 0;
    const auto output = std::filesystem::temp_directory_path() /
                        ("pennaro-cli-test-output-" + std::to_string(getpid()) + "-" + std::to_string(runs++));
    std::string command = (environment.empty() ? "" : "env " + environment + " ") + shellQuote(PENNARO_CLI_PATH);
    for (const auto &a : args) command.append(" ").append(shellQuote(a));
    command.append(" --plugin ").append(shellQuote(PENNARO_PLUGIN_PATH));
    command.append(" >").append(shellQuote(output.string())).append(" 2>&1");
    const int status = std::system(command.c_str());
    ToolRun run;
    run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(output, std::ios::binary);
    run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(output);
    return run;
}

// A fresh empty folder for one test's files, removed with it.
struct ScratchDir {
    const std::filesystem::path path;
    explicit ScratchDir(const std::string &name)
        : path(std::filesystem::temp_directory_path() / ("pennaro-cli-test-" + name + "-" + std::to_string(getpid()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string &name) const { return (path / name).string(); }
};

// The names of the files in a folder, sorted.
inline std::vector<std::string> filesIn(const std::filesystem::path &dir) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace pennaro_test
