// What every command's command line shares: the options all of them take,
// the "did you mean" for a mistyped name, and the guard that turns
// failures into messages and exit statuses.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace pennaro_cli {

// The name in `names` closest to `given` in edit distance, when it is close
// enough to be the one meant; "" otherwise.
std::string closestName(const std::string &given, const std::vector<std::string> &names);

struct CommonOptions {
    std::string plugin;  // empty: the effect built next to the tool
};

// Adds --plugin PATH, --max-memory SIZE (cli/core/memory_budget.h) and --version
// to a sub-command.
void addCommonOptions(CLI::App &app, CommonOptions &options);

// Runs a sub-command body, turning ToolError and CLI11 parse results into
// messages and exit codes: --help and --version 0, a usage error (CLI11's
// own or UsageError) 2, any other failure 1. The help ends with the table
// of exit statuses.
int runGuarded(CLI::App &app, int argc, char **argv, int (*body)(void *), void *context);

}  // namespace pennaro_cli
