#include "cli/vector/import_job.h"

#include <cstdio>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/drawings/drawing_file.h"
#include "cli/core/json_reader.h"
#include "cli/render/options.h"
#include "cli/vector/svg_import.h"

namespace pennaro_cli::vector {
namespace {

nlohmann::ordered_json readBrush(const std::string &text) {
    const bool inline_ = text.find_first_not_of(" \t\r\n") != std::string::npos &&
                         text[text.find_first_not_of(" \t\r\n")] == '{';
    std::string json = text, name = "--brush";
    if (!inline_) {
        const auto bytes = readFileBytes(text);
        json.assign(bytes.begin(), bytes.end());
        name = text;
    }
    const nlohmann::ordered_json brush = parseOrderedJsonInput(json, name, JsonInputRules{true});
    if (!brush.is_object()) throw UsageError("--brush: " + name + " is not a JSON object");
    static const char *const fields[] = {"red", "green", "blue", "opacity", "size", "brushMode", "softness",
                                         "pressureFlags"};
    for (const auto &[key, value] : brush.items()) {
        bool known = false;
        for (const char *f : fields) known = known || key == f;
        if (!known) throw UsageError("--brush: unknown field '" + boundedText(key) + "'");
        if (!value.is_number()) throw UsageError("--brush: " + key + " must be a number");
    }
    return brush;
}

}  // namespace

ImportReport importArt(std::string_view bytes, const std::string &name, const ImportSettings &settings) {
    if (bytes.size() > SVG_MAX_BYTES)
        throw ToolError(name + ": larger than " + std::to_string(SVG_MAX_BYTES >> 20) + " MiB; not read");
    ImportReport r = importSvg(bytes, name, settings);
    if (r.strokes == 0) throw ToolError(name + ": no stroked shape to import");
    return r;
}

void runImport(const ImportOptions &o) {
    checkOutputName(o.output, "-o");
    ImportSettings settings;
    if (!o.size.empty()) settings.size = parseSize(o.size);
    settings.speed = o.speed;
    settings.gap = o.gap;
    settings.duration = o.duration;
    if (!o.brush.empty()) settings.brush = readBrush(o.brush);
    const std::vector<uint8_t> bytes = readFileBytes(o.input);
    const ImportReport r =
        importArt(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()), o.input, settings);
    if (o.output.ends_with(".json"))
        writeFileAtomically(o.output, formatDrawingJson(r.drawing));
    else
        writeFileAtomically(o.output, jsonToBlock(r.drawing));
    if (o.quiet) return;
    std::fprintf(stderr, "pennaro import: %zu strokes, %zu samples on a %dx%d layer, drawn at %.4g pixels per second\n",
                 r.strokes, r.samples, r.width, r.height, r.speed);
    std::string left;
    auto add = [&](size_t count, const char *what) {
        if (count) left += (left.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    };
    add(r.filledOnly, "filled-only shapes");
    add(r.dashed, "dashed strokes");
    add(r.unsupported, "text or image elements");
    add(r.external, "references to other files (not fetched)");
    add(r.complexSelectors, "style rules with selectors beyond tag, class and id");
    if (!left.empty()) std::fprintf(stderr, "pennaro import: note: left out %s\n", left.c_str());
}

}  // namespace pennaro_cli::vector
