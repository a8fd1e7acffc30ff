// pennaro describe, run as a user would.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

#ifdef PENNARO_CLI_PATH
struct ToolRun {
    int status;
    std::string output;
};

ToolRun runTool(const std::string &arguments) {
    std::string command = std::string(PENNARO_CLI_PATH) + " " + arguments + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ToolRun run{-1, ""};
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string writeTemp(const std::string &name, const std::string &text) {
    std::string path = testing::TempDir() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

TEST(Describe, PrintsRecordAboutParametersAndPreferencesInEffect) {
    std::string prefs = writeTemp("describe_prefs.json", R"({"Onion skin - Frames backward": -3, "Onion skin - Opacity": 0.35})");
    ToolRun run = runTool("describe --plugin=" PENNARO_PLUGIN_PATH " --prefs=" + prefs);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char *expected : {
             "match name      KZMO Pennaro",
             "kind            0x65464B54 (eFKT)",
             "interface       13.28",
             "0x91600 (1.2, fix level 2, stage 3, build 0)",
             "output flags    0x2208037",
             "  Pennaro, v1.2\n  ",  // the line break of the about text
             "Parameters (14",
             "Playback Speed",
             "default 1.00, valid -100.00 to 100.00, slider 0.20 to 5.00",
             "default 2 \"In Original\"; 14 choices",
             "(separator)",
             "label \"Individual Stroke Seeds\", default on",
             "Onion skin - Frames backward           0  (stored -3)",
             "Onion skin - Opacity                   0.35  (stored 0.35)",
             "Onion skin - Forward color - Green     1\n",
         })
        EXPECT_NE(run.output.find(expected), std::string::npos) << expected << "\n" << run.output;
    EXPECT_EQ(run.output.find("#{cr}"), std::string::npos);
}

TEST(Describe, BadPreferenceFilesAndLibrariesAreClearErrors) {
    std::string prefs = writeTemp("describe_bad_prefs.json", R"({"Onion skin - Frames forward": 2.5})");
    ToolRun run = runTool("describe --prefs " + prefs);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("\"Onion skin - Frames forward\" must be an integer"), std::string::npos)
        << run.output;
    run = runTool("describe --plugin=" + prefs);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("cannot load the effect"), std::string::npos) << run.output;
    run = runTool("describe --no-such-option");
    EXPECT_NE(run.status, 0);
}
#endif

}  // namespace
