// A drawing's strokes as the effect would paint them, handed over as dabs
// instead of pixels: the effect's own draw order, stroke selection and dab
// walk (src/render, src/raster) run on the drawing, and every dab the walk
// places is kept with its kind, size, alpha and stroke time. The open
// formats are written from these, so an exported frame has the very dabs a
// render of it stamps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pennaro_cli::vector {

// One dab in layer pixels: its centre (pixel centres at .5), the shape's
// parameters as the kernels take them, its paint alpha (0..255) and the
// stroke time the walk had reached there.
struct VectorDab {
    int32_t kind;     // 1 round, 2 soft, 3 square
    float aspect;     // horizontal over vertical radius
    float radius;     // vertical radius as the kernel takes it
    float softness;
    float x, y;
    uint32_t alpha;
    float time;       // seconds since the stroke's start
};

struct VectorStroke {
    int32_t index;      // in the drawing's stroke table
    uint32_t brushMode; // kind, plus 8 for an erasing stroke
    uint8_t rgb[3];     // the colour as the 8-bit render writes it
    float opacity;      // the brush's opacity
    double startTime;   // layer time in seconds
    double endTime;     // time of its last sample, layer seconds
    bool erases() const { return (brushMode & 8u) != 0; }
    uint32_t kind() const { return brushMode & 7u; }
    std::vector<VectorDab> dabs;  // in walk order
};

struct VectorDrawing {
    int32_t width = 0, height = 0;
    std::vector<VectorStroke> strokes;  // in draw order, only those with dabs
    uint64_t dabCount = 0;
};

// The moment to trace: the playback mode (the effect's numbering), the
// drawing time it selects strokes at, and the frame's duration.
struct TraceTime {
    int32_t playbackMode = 1;  // "All Strokes"
    double drawingTime = 0.0;
    double frameDuration = 1.0 / 30.0;
};

// Most dabs one export holds; a drawing that asks for more is refused with a
// ToolError rather than written as a file no viewer could open.
inline constexpr uint64_t MAX_EXPORT_DABS = uint64_t{1} << 24;

// Traces a checked little-endian drawing block (as loadDrawingFile gives it)
// on a layer of width x height pixels. Throws ToolError when the drawing
// cannot be opened or is too large to export.
VectorDrawing traceDrawing(const std::vector<uint8_t> &block, int32_t width, int32_t height,
                           const TraceTime &time, const std::string &name);

// The drawing time of a frame for a playback mode and constant playback
// speed, as the effect works it out from the host's clock.
double frameDrawingTime(int32_t playbackMode, double playbackSpeed, int32_t frame, uint32_t timeScale,
                        int32_t timeStep);

}  // namespace pennaro_cli::vector
