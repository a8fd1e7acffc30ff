// Runs the pennaro tool as a user would, for tests that check it end to end.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

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
// `environment` holds NAME=value words set for the tool alone. The output
// goes through a file rather than a pipe, so that the call returns when the
// tool exits even if a process it started lives on.
inline ToolRun runTool(const std::vector<std::string> &args, const std::string &environment = "") {
    static int runs = 0;
    const auto output = std::filesystem::temp_directory_path() /
                        ("pennaro-cli-test-output-" + std::to_string(getpid()) + "-" + std::to_string(runs++));
    std::string command = environment.empty() ? "" : "env " + environment + " ";
    command.append(shellQuote(PENNARO_CLI_PATH));
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

// A fresh empty folder for one test's files.
inline std::filesystem::path scratchDir(const std::string &name) {
    auto dir = std::filesystem::temp_directory_path() / ("pennaro-cli-test-" + name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

}  // namespace pennaro_test
