// Renders arbitrary bytes, read as a saved block, into small frames as a
// host's render does (draw order, selection, strokes, compositing), in
// several depths and modes. The render must stay inside its images, leave
// the scratch image empty, give back every block, and keep within the
// fuzzer's time and memory limits.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "catalog/params.h"
#include "format/block.h"
#include "format/drawing.h"
#include "render/composite.h"
#include "render/draw_order.h"
#include "render/paint.h"
#include "render/selection.h"
#include "render/wiggle_setup.h"
#include "support/images.h"
#include "support/memory.h"

namespace {

using namespace pennaro;
using test_support::TestImage;
using test_support::TestMemory;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "render fuzzer: %s\n", what.c_str());
    std::abort();
}

// A scratch image that must come back empty and unharmed.
class Host final : public PaintHost {
public:
    int32_t report(int32_t, int32_t) override { return 0; }
    int32_t newScratch(int32_t width, int32_t height, bool deep, ImageView *view, bool *gotDeep) override {
        if (scratch_) fail("a second scratch image");
        scratch_ = std::make_unique<TestImage>(width, height, deep);
        scratch_->clear();
        return *view = scratch_->view(), *gotDeep = deep, 0;
    }
    bool clears = true;  // false: a stroke's mode has no finishing pass that clears the scratch image
    int32_t disposeScratch() override {
        if (!scratch_) return 0;
        if (clears && !scratch_->allZero()) fail("the scratch image was left painted");
        if (!scratch_->paddingIntact()) fail("a write beyond the scratch image's rows");
        return scratch_.reset(), 0;
    }

private:
    std::unique_ptr<TestImage> scratch_;
};

struct Setting {
    bool deep, wiggle;
    int32_t playbackMode, compositeMode;
    double time;          // seconds
    uint32_t downsample;  // both factors 1 / downsample
};

const Setting kSettings[] = {
    {false, false, PLAYBACK_ALL, COMPOSITE_OVER_ORIGINAL, 1.0, 1},
    {true, true, PLAYBACK_ANIMATE, COMPOSITE_ONLY, 0.5, 1},
    {false, false, PLAYBACK_ONION_SKIN, COMPOSITE_TRACK_MATTE, 0.25, 2},
    {true, false, PLAYBACK_HOLD, COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY, 2.0, 2},
};

// One 64 x 48 frame (at its downsampling) over an opaque layer.
void render(TestMemory &memory, PaintSequence &drawing, int32_t n, const Setting &s) {
    PaintFrame frame{};
    frame.onion = OnionSkinPrefs{0.5f, 2, 1, 1, 0, 0, 0, 0, 1};
    Host host;
    {
        Locked<PaintStroke> strokes(memory, drawing.strokeTable);
        if (!strokes) return;
        selectStrokes(memory, strokes.get(), n, drawing.tools.selectionActive != 0,
                      SelectionTime{s.playbackMode, s.time, 1.0 / 30.0}, frame.onion);
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t mode = strokes[i].info.brush.brushMode;
            host.clears = host.clears && ((mode >= 1 && mode <= 4) || (mode >= 9 && mode <= 12) || (mode & 7) > 3);
        }
    }
    const Rational factor{1, s.downsample};
    frame.layer = LayerGeometry{64, 48, factor, factor, {1, 1}, 0, 0};
    NoiseTable noise;
    if (s.wiggle) {
        buildNoiseTable(noise, WigglePhase{30 * 17, 30, 0.25f});
        frame.wiggle = wiggleSettings(WiggleControls{10.0, 50.0, 10.0, 50.0, true}, 64, 48, {1, 1}, &noise);
    }
    frame.drawingTime = s.time, frame.playbackMode = s.playbackMode, frame.deep = s.deep, frame.onionFrame = 1.0 / 30.0;
    frame.scratchWidth = 64 / static_cast<int32_t>(s.downsample);
    frame.scratchHeight = 48 / static_cast<int32_t>(s.downsample);
    TestImage output(frame.scratchWidth, frame.scratchHeight, s.deep), layer(frame.scratchWidth, frame.scratchHeight, s.deep);
    output.clear();
    layer.fill(s.deep ? 32768 : 255, 200, 100, 50);
    const PaintResult painted = paintStrokes(memory, drawing, frame, output.view(), host);
    if (painted.error != 0) fail("the stroke loop failed: " + std::to_string(painted.error));
    if (painted.composite) compositeFrame(layer.view(), output.view(), s.compositeMode);
    if (!output.paddingIntact() || !layer.paddingIntact()) fail("a write beyond the frame's rows");
}

// The dab walk steps by the dab's radius times the spacing plus a pixel and
// has its own cap per stroke, but a drawing of many strokes across huge
// distances is still seconds of walking under the sanitizers: slow, not
// wrong, and the fuzzer would report it as a hang. Such drawings are
// skipped (the walk's bound has its own tests); non-finite coordinates
// count for nothing and are rendered. So is a drawing with a sample far off
// the layer: there the wiggle's few pixels are lost to float rounding and
// come back as jumps as wide as the coordinate's precision step, a walk of
// up to the cap even for one sample. And so is a brush whose radius times
// spacing can come out negative (a negative size or pressure, or a softness
// that turns the spacing round): its step falls below a pixel, down to
// nothing, and one short stroke walks up to the cap.
constexpr double kMaxPathPixels = 2e6;

bool stepsAtLeastAPixel(const PaintStroke &stroke, const PaintPoint *points) {
    const BrushSettings &b = stroke.info.brush;
    if (b.size < 0.0f || b.softness < -0.5f) return false;
    if (!(b.pressureFlags & PRESSURE_SCALES_SIZE)) return true;
    for (int32_t k = 0; k < stroke.info.pointCount; ++k)
        if (points[k].pressure < 0.0f) return false;
    return true;
}

bool walkIsShort(TestMemory &memory, const PaintSequence &drawing, int32_t n) {
    Locked<PaintStroke> strokes(memory, drawing.strokeTable);
    if (!strokes) return false;
    double pixels = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        Locked<PaintPoint> points(memory, strokes[i].points);
        if (!points) continue;
        if (!stepsAtLeastAPixel(strokes[i], points.get())) return false;
        for (int32_t k = 0; k < strokes[i].info.pointCount; ++k) {
            const double far = std::max(std::fabs(double(points[k].x)) * 64.0, std::fabs(double(points[k].y)) * 48.0);
            if (std::isfinite(far) && far > kMaxPathPixels) return false;
            if (k == 0) continue;
            const double step = std::fabs(double(points[k].x) - points[k - 1].x) * 64.0 +
                                std::fabs(double(points[k].y) - points[k - 1].y) * 48.0;
            if (std::isfinite(step)) pixels += step;
        }
    }
    return pixels <= kMaxPathPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    TestMemory memory;
    MemoryHandle block = memory.newHandle(size);
    if (size) std::memcpy(Locked<>(memory, block).get(), data, size);
    const ReadResult read = readBlock(memory, block);
    if (read.status == ReadStatus::AlreadyInMemory) memory.dispose(block);
    if (read.status != ReadStatus::Read) return 0;
    if (const int32_t n = strokeCount(memory, read.drawing); n > 0) {
        Locked<PaintSequence> drawing(memory, read.drawing);
        Host host;
        if (walkIsShort(memory, *drawing, n)) {
            if (drawing->drawOrder.orderValid == 0 && buildDrawOrder(memory, *drawing, host) != 0)
                fail("the draw order could not be built");
            for (const Setting &s : kSettings) render(memory, *drawing, n, s);
        }
    }
    disposeDrawing(memory, read.drawing);
    if (memory.live() != 0 || memory.locked() != 0 || memory.misuse() != 0)
        fail("a block leaked, was left locked or was misused");
    return 0;
}
