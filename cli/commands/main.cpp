// pennaro: a command-line host for the Pennaro effect.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands/commands.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/plugin_location.h"
#include "cli/video/movie.h"

namespace pennaro_cli {

std::vector<Command> &commandRegistry() {
    static std::vector<Command> commands;
    return commands;
}

}  // namespace pennaro_cli

namespace {

void printUsage(FILE *to) {
    auto commands = pennaro_cli::commandRegistry();
    std::sort(commands.begin(), commands.end(),
              [](const auto &a, const auto &b) { return a.name < b.name; });
    std::fprintf(to,
                 "pennaro: render and inspect Pennaro drawings through the Pennaro effect\n\n"
                 "Usage: pennaro COMMAND [options]\n       pennaro help COMMAND\n\n"
                 "Commands:\n");
    for (const auto &c : commands) std::fprintf(to, "  %-10s %s\n", c.name.c_str(), c.summary.c_str());
    std::fprintf(to, "\nEvery command takes --plugin PATH (default: $PENNARO_PLUGIN, else the effect next "
                     "to this tool, else the installed one) and --version.\n\n%s\n", pennaro_cli::EXIT_STATUS_HELP);
}

}  // namespace

int main(int argc, char **argv) {
    namespace exit_status = pennaro_cli::exit_status;
    pennaro_cli::addVersionLine(pennaro_cli::moviesVersionLine);
    if (argc < 2) {
        printUsage(stderr);
        return exit_status::USAGE;
    }
    std::string name = argv[1];
    if (name == "help" && argc > 2) {
        // "pennaro help render" is "pennaro render --help".
        for (const auto &c : pennaro_cli::commandRegistry())
            if (c.name == argv[2]) {
                char help[] = "--help";
                char *args[] = {argv[2], help, nullptr};
                return c.run(2, args);
            }
        std::fprintf(stderr, "pennaro help: unknown command '%s'\n\n", argv[2]);
        printUsage(stderr);
        return exit_status::USAGE;
    }
    if (name == "--help" || name == "-h" || name == "help") {
        printUsage(stdout);
        return exit_status::OK;
    }
    if (name == "--version") {
        std::printf("%s\n", pennaro_cli::versionText(argc > 3 && std::strcmp(argv[2], "--plugin") == 0 ? argv[3] : "").c_str());
        return exit_status::OK;
    }
    std::vector<std::string> names;
    for (const auto &c : pennaro_cli::commandRegistry()) {
        if (c.name == name) return c.run(argc - 1, argv + 1);
        names.push_back(c.name);
    }
    const std::string close = pennaro_cli::closestName(name, names);
    std::fprintf(stderr, "pennaro: unknown command '%s'%s\n\n", name.c_str(),
                 close.empty() ? "" : ("; did you mean " + close + "?").c_str());
    printUsage(stderr);
    return exit_status::USAGE;
}
