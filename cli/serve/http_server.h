// The web server of `pennaro serve`: the page, the frame API and saving.
// Every pixel the page shows is a frame rendered by the effect through the
// same job and session code as `pennaro render`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pennaro_cli {

// What the page's export asks for, checked as a frame request is: the
// layer's size, the frame in the drawing's own numbers.
struct ExportRequest {
    std::string format;  // "svg" or "lottie"
    int32_t frame = 0;
    int32_t width = 1920, height = 1080;
    std::string fps, playbackMode, playbackSpeed;
};

// SVG and Lottie, handed in by the command: the code that writes and reads
// them sits beside the server, not under it. Each throws with the message
// `pennaro import` / `pennaro export` would give.
struct OpenFormats {
    // SVG bytes (`name` for messages) to a drawing in the JSON form.
    std::function<std::string(std::string_view svg, const std::string &name)> importSvg;
    // A drawing (a little-endian block) to the exported file's bytes, and
    // the notes on what the format does not carry.
    std::function<std::string(const std::vector<uint8_t> &block, const std::string &name, const ExportRequest &request,
                              std::vector<std::string> &notes)>
        exportDrawing;
};

struct ServeConfig {
    std::string plugin;
    std::vector<std::string> drawings;  // empty: the demo drawing built into the tool
    std::string layer;  // a file, or a pattern resolved per frame in the shot's numbers
    int32_t frameOffset = 0;  // the shot's number of the drawing's frame 0
    std::string fps = "30";
    int port = 8000;
    std::string bind = "127.0.0.1";
    std::string saveDir;
    int workers = 0;        // 0: one per core
    double quitAfter = 0;   // seconds; 0: until stopped
    bool quiet = false;     // no line per request
    OpenFormats formats;    // unset: the page offers no import or export
};

// Serves until SIGINT or SIGTERM (then dies of that signal, as every
// command of the tool does) or until quitAfter has passed. Throws
// UsageError / ToolError for what keeps it from starting.
int runServer(const ServeConfig &config);

}  // namespace pennaro_cli
