#include "cli/vector/export_job.h"

#include <cstdio>

#include "catalog/params.h"
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/scan/drawing_reference.h"
#include "cli/render/options.h"
#include "cli/vector/lottie_export.h"
#include "cli/vector/svg_export.h"

namespace pennaro_cli::vector {
namespace {

ParamValue paramFrom(const std::string &option, const std::string &text) {
    const ParamInfo *info = findParam(option);
    if (text.empty()) {
        ParamValue v;
        v.stored = info->defaultValue;
        v.real = info->defaultValue / 65536.0;
        return v;
    }
    return parseParamValue(*info, text);
}

}  // namespace

ExportedFile exportDrawing(const std::vector<uint8_t> &block, const ExportOptions &o) {
    const std::string &to = o.to;
    if (to != "svg" && to != "lottie") throw UsageError("export: --to " + to + ": svg or lottie");
    const auto size = o.size.empty() ? std::array<int32_t, 2>{1920, 1080} : parseSize(o.size);
    const Rational rate = parseFrameRate(o.fps);
    const int32_t mode = paramFrom("playback-mode", o.playbackMode).stored;
    const double speed = o.playbackSpeed.empty() ? 1.0 : paramFrom("playback-speed", o.playbackSpeed).real;
    if (to == "lottie" && o.animate)
        throw UsageError("export: --animate is for SVG; a Lottie export is always the animated drawing");
    ExportedFile file;
    if (o.animate && mode != pennaro::PLAYBACK_ANIMATE && !o.playbackMode.empty())
        file.notes.push_back("--animate shows every stroke as \"Animate Strokes\" draws it; --playback-mode is not used");
    std::string lost;
    auto add = [&](const std::string &what) { lost += (lost.empty() ? "" : ", ") + what; };
    if (!o.wiggle.empty() && paramFrom("wiggle", o.wiggle).stored != 0) add("wiggle");
    if (!o.composite.empty()) add("the composite mode");
    if (mode == pennaro::PLAYBACK_ONION_SKIN && !o.animate && to == "svg")
        add("onion-skin tints (strokes keep their colours)");
    if (to == "lottie" && !o.playbackMode.empty() && mode != pennaro::PLAYBACK_ANIMATE)
        add("the playback mode (a Lottie export reveals strokes as \"Animate Strokes\" does)");
    if (!lost.empty()) file.notes.push_back("not carried into " + to + ": " + lost);

    TraceTime time;
    time.frameDuration = static_cast<double>(rate.den) / static_cast<double>(rate.num);
    SvgOptions svg;
    if (to == "lottie") {
        if (!(speed > 0))
            throw UsageError("export: Lottie needs a playback speed above 0 (got " + o.playbackSpeed + ")");
        time.playbackMode = pennaro::PLAYBACK_ALL;
        const VectorDrawing drawing = traceDrawing(block, size[0], size[1], time, o.drawing);
        LottieResult lottie =
            writeLottie(drawing, LottieTiming{static_cast<uint32_t>(rate.num), static_cast<int32_t>(rate.den), speed});
        if (lottie.erasingLeftOut)
            file.notes.push_back("not carried into lottie: " + std::to_string(lottie.erasingLeftOut) +
                                 " erasing strokes");
        file.bytes = std::move(lottie.json);
        return file;
    }
    if (o.animate) {
        // The whole drawing; the animation reveals each dab.
        time.playbackMode = pennaro::PLAYBACK_ALL;
        svg.animate = true;
        if (!(speed > 0))
            throw UsageError("export: --animate needs a playback speed above 0 (got " + o.playbackSpeed + ")");
        svg.timeScale = 1.0 / speed;
    } else {
        time.playbackMode = mode;
        checkFrameTimes({o.frame}, static_cast<int32_t>(rate.den), true);
        time.drawingTime = frameDrawingTime(mode, speed, o.frame, rate.num, static_cast<int32_t>(rate.den));
    }
    const VectorDrawing drawing = traceDrawing(block, size[0], size[1], time, o.drawing);
    file.bytes = writeSvg(drawing, svg);
    return file;
}

void runExport(const ExportOptions &options) {
    ExportOptions o = options;
    if (o.to.empty()) {
        if (o.output.ends_with(".svg"))
            o.to = "svg";
        else if (o.output.ends_with(".json"))
            o.to = "lottie";
        else
            throw UsageError("export: cannot tell the format from '" + o.output +
                             "'; name it .svg or .lottie.json, or give --to svg|lottie");
    }
    checkOutputName(o.output, "-o");
    const LoadedDrawing d = loadDrawingFile(o.drawing);
    const ExportedFile file = exportDrawing(d.block, o);
    if (!o.quiet)
        for (const std::string &note : file.notes) std::fprintf(stderr, "pennaro export: note: %s\n", note.c_str());
    writeFileAtomically(o.output, file.bytes);
}

}  // namespace pennaro_cli::vector
