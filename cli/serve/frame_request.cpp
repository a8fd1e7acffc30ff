#include "cli/serve/frame_request.h"

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "catalog/messages.h"
#include "catalog/prefs.h"
#include "cli/render/prefs_file.h"
#include "minihost/minihost.h"

namespace pennaro_cli {
namespace {

// The render options that change a frame's pixels, besides the effect's
// parameters; each has its field in RenderOptions.
std::string *timingOrLayerField(RenderOptions &o, const std::string &name) {
    if (name == "fps") return &o.fps;
    if (name == "time-scale") return &o.timeScale;
    if (name == "time-step") return &o.timeStep;
    if (name == "local-time-step") return &o.localTimeStep;
    if (name == "size") return &o.size;
    if (name == "background") return &o.background;
    if (name == "downsample") return &o.downsample;
    if (name == "pixel-aspect") return &o.pixelAspect;
    if (name == "origin") return &o.origin;
    return nullptr;
}

bool isPrefKey(const std::string &key) {
    for (int32_t i = 0; i < pennaro::PREF_KEY_COUNT; ++i)
        if (pennaro::messageText(pennaro::PREF_KEYS[i].message) == key) return true;
    return false;
}

// A whole number in [low, high], or a UsageError naming `name=value`.
int64_t wholeNumber(const std::string &name, const std::string &value, int64_t low, int64_t high) {
    char *end = nullptr;
    errno = 0;
    const long long n = std::strtoll(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || n < low || n > high)
        throw UsageError(name + "=" + value + ": a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    return n;
}

// A preference value from text: a number when it reads as one (whole
// numbers as integers), else the text, which the preference reader refuses
// by name.
nlohmann::json prefValue(const std::string &text) {
    if (!text.empty()) {
        char *end = nullptr;
        errno = 0;
        long long whole = std::strtoll(text.c_str(), &end, 10);
        if (*end == '\0' && errno == 0) return whole;
        double real = std::strtod(text.c_str(), &end);
        if (*end == '\0' && errno == 0) return real;
    }
    return text;
}

}  // namespace

const std::vector<std::string> &frameQueryNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all{"drawing", "frame", "png", "v", "frame-offset", "depth", "fps", "time-scale",
                                     "time-step", "local-time-step", "size", "background", "downsample",
                                     "pixel-aspect", "origin"};
        for (const ParamInfo &p : effectParams()) all.emplace_back(p.option);
        return all;
    }();
    return names;
}

FrameQuery parseFrameQuery(const Query &query, size_t drawingCount) {
    FrameQuery request;
    RenderOptions &o = request.options;
    o.quiet = true;
    bool haveDrawing = false;
    nlohmann::json prefs = nlohmann::json::object();
    for (const auto &[name, value] : query) {
        if (name == "drawing") {
            if (drawingCount == 0 || value.empty() || value.size() > 20 || value[0] == '-' ||
                value.find_first_not_of("0123456789") != std::string::npos ||
                std::strtoull(value.c_str(), nullptr, 10) >= drawingCount)
                throw UsageError("drawing=" + value + ": there " +
                                 (drawingCount == 1 ? std::string("is one drawing (0)")
                                                    : "are " + std::to_string(drawingCount) + " drawings (0 to " +
                                                          std::to_string(drawingCount - 1) + ")"));
            request.drawing = size_t(std::strtoull(value.c_str(), nullptr, 10));
            haveDrawing = true;
        } else if (name == "frame") {
            char *end = nullptr;
            errno = 0;
            const long long n = std::strtoll(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || n < -FRAME_NUMBER_LIMIT || n > FRAME_NUMBER_LIMIT)
                throw UsageError("frame=" + value + ": one frame number is asked for at a time, from " +
                                 std::to_string(-FRAME_NUMBER_LIMIT) + " to " + std::to_string(FRAME_NUMBER_LIMIT));
            o.frames = value;
        } else if (name == "png") {
            if (value != "compact" && value != "fast") throw UsageError("png=" + value + ": compact or fast");
            request.encoding = value == "fast" ? PngEncoding::Fast : PngEncoding::Compact;
        } else if (name == "v") {
            // A page's cache breaker; it changes nothing.
        } else if (name.rfind("pref.", 0) == 0 && isPrefKey(name.substr(5))) {
            prefs[name.substr(5)] = prefValue(value);
        } else if (name == "frame-offset") {
            o.frameOffset = int32_t(wholeNumber(name, value, -FRAME_NUMBER_LIMIT, FRAME_NUMBER_LIMIT));
            request.namesFrameOffset = true;
        } else if (name == "depth") {
            if (value != "8" && value != "16") throw UsageError("depth=" + value + ": 8 or 16");
            o.depth = value == "8" ? 8 : 16;
        } else if (std::string *field = timingOrLayerField(o, name)) {
            *field = value;
            if (name == "fps") request.namesFps = true;
        } else if (const ParamInfo *param = findParam(name); param && name == param->option) {
            o.paramTexts[name] = value;
        } else {
            throw UsageError(
                name + (name.rfind("pref.", 0) == 0 ? ": unknown preference" : "") +
                ": cannot be chosen by a frame request; it takes drawing, frame, png, v, pref.KEY for a preference "
                "and the render options that change the pixels, named whole (files and outputs are the server's)");
        }
    }
    if (!haveDrawing) throw UsageError("drawing=I is needed (I counts from 0 in the order of /api/drawings)");
    if (o.frames.empty()) throw UsageError("frame=N is needed");
    if (!prefs.empty()) o.prefsText = prefs.dump();
    return request;
}

FrameRequest resolveFrameQuery(const FrameQuery &query, const ServedDrawing &drawing,
                               const ServeSettings &settings) {
    RenderOptions o = query.options;
    o.drawing = drawing.name;
    o.layer = settings.layer;
    o.common.plugin = settings.plugin;
    if (!query.namesFrameOffset) o.frameOffset = settings.frameOffset;
    if (!query.namesFps) o.fps = settings.fps;
    // The server, not the page, decides how the cores are shared.
    o.threads = settings.threads;
    if (!o.prefsText.empty()) {
        minihost::PrefStore scratch;
        try {
            loadPrefsText(scratch, o.prefsText, "pref");
        } catch (const ToolError &e) {
            throw UsageError(e.what());
        }
    }
    FrameRequest request;
    request.drawing = query.drawing;
    request.revision = drawing.revision;
    request.encoding = query.encoding;
    request.job = resolveJob(o, &drawing.drawing);
    const RenderJob &job = request.job;
    if (job.frames.size() != 1) throw UsageError("frame=" + o.frames + ": one frame number is asked for at a time");
    request.frame = job.frames.front();
    if (job.layerPattern.empty()) {
        const int64_t pixels = int64_t(scaledExtent(job.width, job.downsampleX)) * scaledExtent(job.height, job.downsampleY);
        if (job.width > SERVE_MAX_EXTENT || job.height > SERVE_MAX_EXTENT || pixels > SERVE_MAX_PIXELS)
            throw UsageError("size=" + o.size + ": the server renders frames up to " + std::to_string(SERVE_MAX_EXTENT) +
                             " pixels on a side and " + std::to_string(SERVE_MAX_PIXELS) + " pixels in all");
    }
    return request;
}

}  // namespace pennaro_cli
