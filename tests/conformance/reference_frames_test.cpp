// Reference frames from an independently written renderer: each case goes
// through `pennaro render` with every host value and parameter on the
// command line, and the frame must equal the expected PNG sample for
// sample, colour included where alpha is 0.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/run_tool.h"
#include "lib/image_compare.h"
#include "lib/png_io.h"

using namespace pennaro_cli;
using nlohmann::json;

namespace {

const std::filesystem::path caseDir = std::filesystem::path(PENNARO_TEST_DATA_DIR) / "conformance";

std::vector<json> loadCases() {
    std::ifstream in(caseDir / "cases.json");
    return json::parse(in).at("cases").get<std::vector<json>>();
}

const std::vector<json> &cases() {
    static const std::vector<json> all = loadCases();
    return all;
}

std::string number(const json &value) { return value.dump(); }

// The command line that reproduces one case.
std::vector<std::string> renderArguments(const json &c, const std::filesystem::path &output) {
    std::vector<std::string> args = {"render", (caseDir / c.at("block").get<std::string>()).string()};
    if (c.at("layer").is_null()) {
        args.insert(args.end(), {"--size", number(c.at("width")) + "x" + number(c.at("height"))});
    } else {
        args.insert(args.end(), {"--layer", (caseDir / c.at("layer").get<std::string>()).string()});
    }
    args.insert(args.end(), {"--depth", number(c.at("depth")), "--time-scale", number(c.at("time_scale")),
                             "--time-step", number(c.at("time_step")), "--local-time-step",
                             number(c.at("local_time_step")), "--frames", number(c.at("frame"))});
    for (const auto &[name, value] : c.at("params").items()) {
        std::string option("--");
        option.append(name);
        std::replace(option.begin(), option.end(), '_', '-');
        args.push_back(option);
        args.push_back(value.is_boolean() ? (value.get<bool>() ? "on" : "off") : number(value));
    }
    const json &origin = c.at("origin");
    args.insert(args.end(), {"--pixel-aspect", c.at("pixel_aspect").get<std::string>(), "--origin",
                             number(origin[0]) + "," + number(origin[1]), "--downsample",
                             c.at("downsample").get<std::string>(), "-q", "-o", output.string()});
    return args;
}

class ReferenceFrame : public testing::TestWithParam<size_t> {};

TEST_P(ReferenceFrame, MatchesThroughTheTool) {
    const json &c = cases()[GetParam()];
    const std::string name = c.at("name");
    // The host's current time is the frame times the time step.
    ASSERT_EQ(c.at("current_time").get<int64_t>(), c.at("frame").get<int64_t>() * c.at("time_step").get<int64_t>());

    auto dir = pennaro_test::scratchDir("reference");
    auto output = dir / (name + ".png");
    auto args = renderArguments(c, output);
    pennaro_test::ToolRun run = pennaro_test::runTool(args);
    std::string command = "pennaro";
    for (const auto &a : args) command.append(" ").append(pennaro_test::shellQuote(a));
    ASSERT_EQ(run.status, 0) << command << "\n" << run.output;

    PngImage expected = readPng(caseDir / c.at("expected").get<std::string>());
    PngImage actual = readPng(output);
    ImageComparison result = compareImages(expected, actual);
    if (!result.identical()) {
        // Keep the frame and a picture of the differences for a look.
        auto keep = std::filesystem::temp_directory_path() / "pennaro-reference-failures";
        std::filesystem::create_directories(keep);
        std::filesystem::copy_file(output, keep / (name + "-actual.png"),
                                   std::filesystem::copy_options::overwrite_existing);
        writePng(keep / (name + "-diff.png"), makeDiffImage(expected, actual));
    }
    EXPECT_TRUE(result.identical()) << name << " (expected vs ours): " << describeComparison(result) << "\n"
                                    << command;
    std::filesystem::remove_all(dir);
}

std::string caseName(const testing::TestParamInfo<size_t> &info) {
    std::string name = cases()[info.param].at("name");
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

std::vector<size_t> caseIndices() {
    std::vector<size_t> indices(cases().size());
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = i;
    return indices;
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceFrame, testing::ValuesIn(caseIndices()), caseName);

}  // namespace
