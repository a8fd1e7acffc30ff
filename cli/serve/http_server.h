// The web server of `pennaro serve`: the page, the frame API and saving.
// Every pixel the page shows is a frame rendered by the effect through the
// same job and session code as `pennaro render`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pennaro_cli {

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
};

// Serves until SIGINT or SIGTERM (then dies of that signal, as every
// command of the tool does) or until quitAfter has passed. Throws
// UsageError / ToolError for what keeps it from starting.
int runServer(const ServeConfig &config);

}  // namespace pennaro_cli
