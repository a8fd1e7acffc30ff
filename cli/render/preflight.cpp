#include "cli/render/preflight.h"
#include "cli/video/movie.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "cli/core/errors.h"

namespace pennaro_cli {

ImageHeader layerHeader(const std::string &pattern, int32_t frame) {
    const std::string name = frameFileName(pattern, frame);
    const std::string which = "--layer: frame " + std::to_string(frame) + ": ";
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) throw ToolError(which + "no such file: " + name);
    try {
        return probeImage(name);
    } catch (const ToolError &e) {
        throw ToolError(which + e.what());
    }
}

std::string describeWindow(const ImageWindows &w) {
    char text[96];
    std::snprintf(text, sizeof text, "(%d,%d)-(%lld,%lld)", int(w.displayX), int(w.displayY),
                  static_cast<long long>(int64_t(w.displayX) + w.displayWidth - 1),
                  static_cast<long long>(int64_t(w.displayY) + w.displayHeight - 1));
    return text;
}

void checkLayerSequence(const std::string &pattern, const std::vector<int32_t> &frames, const ImageHeader &first) {
    if (!hasFramePlaceholder(pattern)) return;
    const auto describe = [](const ImageHeader &h) {
        return std::to_string(h.width) + "x" + std::to_string(h.height) + " " +
               (h.floating ? std::string("floating-point") : std::to_string(h.depth) + "-bit") + " " + h.format;
    };
    for (int32_t f : frames) {
        const ImageHeader h = layerHeader(pattern, f);
        // An OpenEXR sequence may change its data window (a CG element
        // moving), never the frame of the shot.
        const ImageWindows &a = first.windows, &b = h.windows;
        if (first.floating && h.floating &&
            (a.displayX != b.displayX || a.displayY != b.displayY || a.displayWidth != b.displayWidth ||
             a.displayHeight != b.displayHeight))
            throw ToolError("--layer: frame " + std::to_string(f) + ": " + frameFileName(pattern, f) +
                            " has the display window " + describeWindow(b) + ", but the sequence starts with " +
                            describeWindow(a) + "; every frame of a sequence needs one display window (nothing was "
                            "rendered)");
        if (first.floating && h.floating) continue;
        if (h.width != first.width || h.height != first.height || h.depth != first.depth ||
            h.floating != first.floating)
            throw ToolError("--layer: frame " + std::to_string(f) + ": " + frameFileName(pattern, f) + " is a " +
                            describe(h) + " image, but the sequence starts with a " + describe(first) +
                            " one; every frame of a sequence needs one size and depth (nothing was rendered)");
    }
}

bool outputIsComplete(const std::string &path, const ImageFormat &format, const ExpectedImage &expected) {
    return path != "-" && fileHoldsImage(path, format, expected);
}

std::array<int32_t, 2> outputSize(const RenderJob &job, int32_t layerWidth, int32_t layerHeight) {
    return {scaledExtent(layerWidth, job.downsampleX), scaledExtent(layerHeight, job.downsampleY)};
}

void printDryRun(std::FILE *out, const RenderJob &job, const std::vector<int32_t> &todo, int32_t width,
                 int32_t height) {
    std::fprintf(out, "drawing %s, effect %s\n", job.drawingName.c_str(), job.pluginPath.c_str());
    std::fprintf(out, "%zu frame%s at %u/%d fps, %dx%d, depth %d, %s%s\n", job.frames.size(),
                 job.frames.size() == 1 ? "" : "s", job.timeScale, job.timeStep, width, height, job.depth,
                 job.movie ? "one movie" : job.outputFormat->name,
                 job.movie ? (" " + job.outputPattern + " (start time code " +
                              startTimecode(job.frames.front(), job.timeScale, uint32_t(job.timeStep)) + ")")
                                 .c_str()
                 : job.outputFormat == &exrFormat() ? (job.exrFloat ? " float" : " half")
                                                    : "");
    const std::set<int32_t> rendered(todo.begin(), todo.end());
    for (int32_t f : job.frames) {
        const int64_t effectFrame = int64_t(f) - job.frameOffset;
        const double seconds = double(effectFrame * job.timeStep) / double(job.timeScale);
        std::fprintf(out, "frame %d: effect frame %lld, %.6g s: %s %s", f, static_cast<long long>(effectFrame),
                     seconds, rendered.count(f) ? "write" : "keep", frameFileName(job.outputPattern, f).c_str());
        if (!job.layerPattern.empty()) std::fprintf(out, " from %s", frameFileName(job.layerPattern, f).c_str());
        std::fprintf(out, "\n");
    }
    std::fprintf(out, "dry run: nothing was rendered\n");
}

}  // namespace pennaro_cli
