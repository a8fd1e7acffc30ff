// Line art from SVG to a drawing: every stroked shape becomes a stroke drawn
// along its outline, in document order, at a chosen speed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace pennaro_cli::vector {

// Files beyond these are refused before or while reading, as the JSON
// reader refuses deep or huge drawings.
inline constexpr size_t SVG_MAX_BYTES = size_t{64} << 20;
inline constexpr int SVG_MAX_DEPTH = 256;
inline constexpr size_t SVG_MAX_COMMANDS = 1000000;        // path commands in all
inline constexpr size_t SVG_MAX_POINTS = 4000000;          // outline points in all
inline constexpr size_t SVG_MAX_ELEMENTS = 1000000;        // elements drawn, counting each <use> anew
inline constexpr size_t SVG_MAX_SAMPLES = 8000000;         // samples of the drawing
inline constexpr size_t SVG_MAX_STYLE_RULES = 10000;       // each is matched against every element

// Samples are laid every SAMPLE_SPACING layer pixels along each outline:
// the effect's smoothing rounds corners over about two spacings and stops
// short of the last sample by less than one, so at 2 pixels the painted
// line follows the art to within a pixel away from sharp corners. The last
// sample is given twice so that the smoothed path reaches the art's end.
inline constexpr double SAMPLE_SPACING = 2.0;

struct ImportSettings {
    std::optional<std::array<int32_t, 2>> size;  // the layer; default: the art's own size
    double speed = 600.0;                        // layer pixels per second
    double gap = 0.25;                           // seconds between strokes
    double duration = 0.0;                       // > 0: the whole drawing takes this long
    nlohmann::ordered_json brush;                // fields that replace the mapped brush's
};

struct ImportReport {
    nlohmann::ordered_json drawing;
    int32_t width = 0, height = 0;
    size_t strokes = 0, samples = 0;
    size_t filledOnly = 0, dashed = 0, unsupported = 0, external = 0, complexSelectors = 0;
    double speed = 0;  // the speed used, pixels per second
};

// Throws ToolError naming `name` and the line for bad SVG, UsageError for
// settings that cannot work.
ImportReport importSvg(std::string_view bytes, const std::string &name, const ImportSettings &settings);

}  // namespace pennaro_cli::vector
