// A loaded effect on the stand-in host with one instance, a layer and an
// output image, and a drawing written straight into the instance's memory
// form, so render tests can set up exactly the strokes they need.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drawing/records.h"
#include "minihost/minihost.h"

namespace render_test {

struct TestStroke {
    int32_t id = 0;
    float startTime = 0.0f;
    // Point times relative to the start; positions as fractions of the layer.
    std::vector<pennaro::PaintPoint> points;
    pennaro::BrushSettings brush{};
};

// A stroke of `count` points at (x, y), with point times 0, 0.1, ...; an
// opaque square brush of radius 2 in the given colour.
TestStroke dotStroke(int32_t id, float start, float x, float y, float red = 1.0f, float green = 1.0f,
                     float blue = 1.0f, int32_t count = 1);

class Rig {
public:
    // Global set-up, parameter set-up and sequence set-up through the loaded
    // library; a layer filled with an opaque grey pattern.
    Rig(int32_t width = 32, int32_t height = 24, bool deep = false);
    ~Rig();

    minihost::Host host;
    std::unique_ptr<minihost::Plugin> plugin;
    minihost::Image layer;
    minihost::Image output;

    int32_t send(int32_t command);
    int32_t render();

    // Replaces the drawing's strokes; the draw order becomes not valid.
    void setStrokes(const std::vector<TestStroke> &strokes);
    std::vector<pennaro::PaintStroke> strokes();
    std::vector<int32_t> drawCounts();
    // The draw order as stored, with its validity.
    std::vector<int32_t> order(bool *valid = nullptr);

    // Sets the host's time as `frame` at `fps` whole frames per second.
    void setFrame(int32_t frame, int32_t fps);
    void setLayerPattern();

    bool outputIsZero() const;

private:
    uint64_t misuseAtStart_ = 0;
};

}  // namespace render_test
