#include "cli/core/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "cli/core/errors.h"
#include "cli/core/memory_budget.h"
#include "cli/core/plugin_location.h"

namespace pennaro_cli {

void addCommonOptions(CLI::App &app, CommonOptions &options) {
    app.add_option("--plugin", options.plugin,
                   "The effect library to load; a bare name is a file in the current folder. Default: "
                   "$PENNARO_PLUGIN, else the one next to this tool, else the installed one");
    addMemoryOption(app);
    // --plugin is read before the version callback runs, whatever their order.
    app.set_version_flag("--version", [&options] { return versionText(options.plugin); });
}

std::string closestName(const std::string &given, const std::vector<std::string> &names) {
    // Edit distance with adjacent swaps counted as one edit ("--fsp" for
    // "--fps"), leading dashes left out so that they cost nothing.
    auto bare = [](const std::string &name) { return name.substr(std::min(name.find_first_not_of('-'), name.size())); };
    const std::string a = bare(given);
    const size_t allowed = std::clamp<size_t>(a.size() / 3, 1, 2);
    std::string best;
    size_t bestDistance = allowed + 1;
    for (const std::string &name : names) {
        const std::string b = bare(name);
        std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
        for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
        for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
        for (size_t i = 1; i <= a.size(); ++i)
            for (size_t j = 1; j <= b.size(); ++j) {
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        if (d[a.size()][b.size()] < bestDistance) {
            bestDistance = d[a.size()][b.size()];
            best = name;
        }
    }
    return best;
}

namespace {

// "; did you mean --fps?" for the first option on the command line that
// the command does not have but nearly does.
std::string optionHint(const CLI::App &app, int argc, char **argv) {
    std::vector<std::string> names;
    for (const CLI::Option *option : app.get_options()) {
        for (const std::string &n : option->get_lnames()) names.push_back("--" + n);
        for (const std::string &n : option->get_snames()) names.push_back("-" + n);
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) continue;
        const std::string name = arg.substr(0, arg.find('='));
        if (app.get_option_no_throw(name)) continue;
        const std::string close = closestName(name, names);
        if (!close.empty()) return "; did you mean " + close + "?";
    }
    return "";
}

}  // namespace

int runGuarded(CLI::App &app, int argc, char **argv, int (*body)(void *), void *context) {
    const std::string footer = app.get_footer();
    app.footer(footer.empty() ? std::string(EXIT_STATUS_HELP) : footer + "\n\n" + EXIT_STATUS_HELP);
    const std::string prefix = "pennaro " + app.get_name() + ": ";
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "%s%s%s\nRun 'pennaro %s --help' for the options.\n", prefix.c_str(), e.what(),
                     optionHint(app, argc, argv).c_str(), app.get_name().c_str());
        return exit_status::USAGE;
    }
    try {
        return body(context);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), e.what());
        return exit_status::USAGE;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), outOfMemoryMessage().c_str());
        return exit_status::FAILED;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), e.what());
        return exit_status::FAILED;
    }
}

}  // namespace pennaro_cli
