// The options of `pennaro render` and their resolution into a RenderJob,
// shared by every command that renders: a frame asked for by another route
// (such as the web server's frame requests) goes through the very same
// parsing, checks and messages.
#pragma once

#include <map>
#include <string>

#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/render/drawing.h"
#include "cli/render/session.h"

namespace CLI {
class App;
class Option;
}

namespace pennaro_cli {

struct RenderOptions {
    CommonOptions common;
    std::string drawing;
    std::string frames, fps = "30", timeScale, timeStep, localTimeStep;
    std::string layer, size, background = "transparent", downsample = "1/1", pixelAspect = "1/1", origin = "0,0";
    int depth = 0;
    std::map<std::string, std::string> paramTexts;  // option name → text, as given
    std::string paramsFile, prefsFile;
    std::string prefsText;  // preferences as JSON text, when not from a file
    std::string output = "frames/frame_####.png", contactSheet, exrType = "half", exrCompression = "zip";
    std::string chunk;
    int jobs = 1;
    int threads = 0;  // 0: the cores divided among the jobs
    int32_t frameOffset = 0;
    bool skipExisting = false, quiet = false, verbose = false, dryRun = false;
    // Movies (an output name ending in .mp4, .mov, .webm, .mkv or .gif).
    int crf = -1;
    std::string prores = "4444";
};


// The demo drawing built into the tool (examples/demo.json of its sources),
// what render and serve show when no drawing is named.
extern const char *const BUILT_IN_DEMO_NAME;
RenderDrawing builtInDemoDrawing();

// Adds the render options (time, layer, effect parameters, output) to `app`,
// all but DRAWING and the common ones.
void addRenderOptions(CLI::App &app, RenderOptions &o);

// --frame-offset and --fps alone, for commands that number frames as render
// does (such as serve); the returned option takes a group.
CLI::Option *addFrameOffsetOption(CLI::App &app, int32_t &frameOffset);
CLI::Option *addFpsOption(CLI::App &app, std::string &fps);

// The threads each of `processes` effect instances rendering side by side
// paints with: the machine's cores divided among them, at least 1.
int defaultThreads(int processes);

// Checks the options and reads what they name. An empty `o.drawing` is the
// demo drawing built into the tool; a drawing already read may be handed in
// as `preloaded` (it is then not read again). Throws UsageError or ToolError with the tool's messages.
RenderJob resolveJob(const RenderOptions &o, const RenderDrawing *preloaded = nullptr);

}  // namespace pennaro_cli
