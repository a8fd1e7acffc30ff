// Sub-commands of the pennaro tool register themselves here, one file each
// under cli/commands/, so adding a command touches nothing else.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pennaro_cli {

// argv[0] is the sub-command's name; returns the process exit status.
using CommandFn = std::function<int(int argc, char **argv)>;

struct Command {
    std::string name;
    std::string summary;
    CommandFn run;
};

std::vector<Command> &commandRegistry();

struct CommandRegistrar {
    CommandRegistrar(std::string name, std::string summary, CommandFn run) {
        commandRegistry().push_back({std::move(name), std::move(summary), std::move(run)});
    }
};

}  // namespace pennaro_cli
