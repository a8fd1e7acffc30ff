// pennaro compare: are two frames the same, pixel for pixel?
#include <CLI/CLI.hpp>
#include <cstdio>

#include "commands.h"
#include "lib/common.h"
#include "lib/image_compare.h"
#include "lib/memory_budget.h"
#include "lib/image_io.h"

namespace pennaro_cli {
namespace {

struct CompareOptions {
    std::string first, second, diff;
    bool quiet = false;
};

int runCompare(void *context) {
    auto &options = *static_cast<CompareOptions *>(context);
    // An unreadable file is a failure (1), never taken for a difference.
    const PngImage a = readImage(options.first, memoryBudget()), b = readImage(options.second, memoryBudget());
    ImageComparison result = compareImages(a, b);
    if (!options.diff.empty()) writeImage(options.diff, makeDiffImage(a, b));
    if (!options.quiet) std::printf("%s\n", describeComparison(result).c_str());
    return result.identical() ? exit_status::OK : exit_status::NEGATIVE;
}

int compareMain(int argc, char **argv) {
    CLI::App app("Compare two PNG frames sample for sample: all four channels, colour included where "
                 "alpha is 0. Prints the number of differing pixels, the largest difference of one "
                 "channel and the first differing pixel.\n\nThe answer is the exit status: 0 when the "
                 "images are identical (same size, same depth, same samples), 3 when they differ, 1 "
                 "when a file cannot be read, 2 on a usage error.",
                 "compare");
    CompareOptions options;
    app.add_option("A", options.first, "First PNG file")->required();
    app.add_option("B", options.second, "Second PNG file")->required();
    app.add_option("--diff", options.diff,
                   "Write an 8-bit picture of the differences: equal pixels faint grey, differing "
                   "pixels red, brighter for larger differences");
    app.add_flag("-q,--quiet", options.quiet, "Print nothing; only the exit status tells");
    CommonOptions common;
    addCommonOptions(app, common);
    return runGuarded(app, argc, argv, runCompare, &options);
}

const CommandRegistrar registrar("compare", "compare two PNG frames pixel for pixel", compareMain);

}  // namespace
}  // namespace pennaro_cli
