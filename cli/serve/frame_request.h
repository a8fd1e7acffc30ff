// A frame request of the web page turned into the job `pennaro render`
// would run for the same settings. Only names the page may choose are
// taken, each matched whole: the render options that change the pixels,
// `pref.` and a preference key, and `drawing`, `frame`, `png`, `v`. A request
// can name no file; the server's own --layer and --plugin apply.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/images/png.h"
#include "cli/render/command_line.h"

namespace pennaro_cli {

// A drawing the server was started with, as it is now (edits from the page
// replace the block and count up the revision).
struct ServedDrawing {
    std::string name;  // the file name it was read from
    RenderDrawing drawing;
    uint64_t revision = 0;
};

// Frames wider or taller than this, or with more pixels than
// SERVE_MAX_PIXELS, are refused: one request must not take the machine.
inline constexpr int32_t SERVE_MAX_EXTENT = 16384;
inline constexpr int64_t SERVE_MAX_PIXELS = int64_t(8192) * 8192;

struct ServeSettings {
    std::string plugin;
    std::string layer;
    // The shot's numbering, for requests that do not name their own.
    int32_t frameOffset = 0;
    std::string fps = "30";
    int threads = 1;  // per worker: the cores divided among the workers
};

// The query of a request, names and values decoded, in order.
using Query = std::vector<std::pair<std::string, std::string>>;

// What a request asks for, its values not yet checked against each other.
struct FrameQuery {
    size_t drawing = 0;
    RenderOptions options;  // the render options the request chose
    PngEncoding encoding = PngEncoding::Compact;  // png=fast: the same pixels, sooner
    bool namesFps = false, namesFrameOffset = false;
};

// Refuses (UsageError, naming the query name) anything but the names above,
// and a missing drawing or frame.
FrameQuery parseFrameQuery(const Query &query, size_t drawingCount);

// The names a request may give besides pref.KEY, for messages and docs.
const std::vector<std::string> &frameQueryNames();

// A checked request: the job render would run, for one frame.
struct FrameRequest {
    size_t drawing = 0;
    uint64_t revision = 0;
    int32_t frame = 0;
    PngEncoding encoding = PngEncoding::Compact;
    RenderJob job;
};

// Checks the request's values as render checks its options and resolves the
// job with the drawing as served. Throws UsageError / ToolError with
// render's messages.
FrameRequest resolveFrameQuery(const FrameQuery &query, const ServedDrawing &drawing,
                               const ServeSettings &settings);

}  // namespace pennaro_cli
