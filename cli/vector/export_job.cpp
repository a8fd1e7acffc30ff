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

bool endsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

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

void runExport(const ExportOptions &o) {
    std::string to = o.to;
    if (to.empty()) {
        if (endsWith(o.output, ".svg"))
            to = "svg";
        else if (endsWith(o.output, ".json"))
            to = "lottie";
        else
            throw UsageError("export: cannot tell the format from '" + o.output +
                             "'; name it .svg or .lottie.json, or give --to svg|lottie");
    }
    checkOutputName(o.output, "-o");
    const auto size = o.size.empty() ? std::array<int32_t, 2>{1920, 1080} : parseSize(o.size);
    const Rational rate = parseFrameRate(o.fps);
    const int32_t mode = paramFrom("playback-mode", o.playbackMode).stored;
    const double speed = o.playbackSpeed.empty() ? 1.0 : paramFrom("playback-speed", o.playbackSpeed).real;
    if (to == "lottie" && o.animate)
        throw UsageError("export: --animate is for SVG; a Lottie export is always the animated drawing");
    if (o.animate && mode != pennaro::PLAYBACK_ANIMATE && !o.playbackMode.empty() && !o.quiet)
        std::fprintf(stderr, "pennaro export: note: --animate shows every stroke as \"Animate Strokes\" "
                             "draws it; --playback-mode is not used\n");
    if (!o.quiet) {
        std::string lost;
        auto add = [&](const std::string &what) { lost += (lost.empty() ? "" : ", ") + what; };
        if (!o.wiggle.empty() && paramFrom("wiggle", o.wiggle).stored != 0) add("wiggle");
        if (!o.composite.empty()) add("the composite mode");
        if (mode == pennaro::PLAYBACK_ONION_SKIN && !o.animate && to == "svg")
            add("onion-skin tints (strokes keep their colours)");
        if (to == "lottie" && !o.playbackMode.empty() && mode != pennaro::PLAYBACK_ANIMATE)
            add("the playback mode (a Lottie export reveals strokes as \"Animate Strokes\" does)");
        if (!lost.empty()) std::fprintf(stderr, "pennaro export: note: not carried into %s: %s\n", to.c_str(), lost.c_str());
    }

    const LoadedDrawing d = loadDrawingFile(o.drawing);
    TraceTime time;
    time.frameDuration = static_cast<double>(rate.den) / static_cast<double>(rate.num);
    SvgOptions svg;
    if (to == "lottie") {
        if (!(speed > 0))
            throw UsageError("export: Lottie needs a playback speed above 0 (got " + o.playbackSpeed + ")");
        time.playbackMode = pennaro::PLAYBACK_ALL;
        const VectorDrawing drawing = traceDrawing(d.block, size[0], size[1], time, o.drawing);
        const LottieResult lottie =
            writeLottie(drawing, LottieTiming{static_cast<uint32_t>(rate.num), static_cast<int32_t>(rate.den), speed});
        if (lottie.erasingLeftOut && !o.quiet)
            std::fprintf(stderr, "pennaro export: note: not carried into lottie: %zu erasing strokes\n",
                         lottie.erasingLeftOut);
        writeFileAtomically(o.output, lottie.json);
        return;
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
    const VectorDrawing drawing = traceDrawing(d.block, size[0], size[1], time, o.drawing);
    writeFileAtomically(o.output, writeSvg(drawing, svg));
}

}  // namespace pennaro_cli::vector
