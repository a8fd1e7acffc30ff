// The effect loaded from its shared library on the stand-in host, as a host
// drives it: one instance with a layer and an output image, and helpers to
// write a drawing straight into the instance's memory form, so a test can set
// up exactly the strokes it needs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalog/messages.h"
#include "format/records.h"
#include "host/globals.h"
#include "minihost/testing.h"

namespace host_test {

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
    // With `setUp`: global, parameter and sequence set-up through the
    // library, and a layer filled with an opaque pattern.
    explicit Rig(int32_t width = 32, int32_t height = 24, bool deep = false, bool setUp = true);
    ~Rig();

    minihost::TestHost host;
    minihost::Plugin plugin{PENNARO_PLUGIN_PATH};
    minihost::Image layer;
    minihost::Image output;
    uint64_t liveAtStart = 0;

    // The command sent as the host sends it, with the output image.
    int32_t send(int32_t command);
    int32_t render() { return send(HOST_CMD_RENDER); }
    std::string message() const { return host.out.message; }

    // Replaces the drawing's strokes; the draw order becomes not valid.
    void setStrokes(const std::vector<TestStroke> &strokes);
    std::vector<pennaro::PaintStroke> strokes();
    // Whether the drawing's draw order is valid (read without a lock: the
    // data is locked between commands).
    bool orderValid();

    // Sets the host's time as `frame` at `fps` whole frames per second.
    void setFrame(int32_t frame, int32_t fps);
    bool outputIsZero() const;
};

// The library loaded and registered on a fresh host, nothing set up yet.
class LoadedEffect : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(plugin.registerEffect(), 0); }
    void TearDown() override { minihost::setStrictHandles(false); }
    int32_t send(int32_t command, HostWorld *output = nullptr) { return host.send(plugin.entry(), command, output); }
    void setUpGlobals() { ASSERT_EQ(send(HOST_CMD_GLOBAL_SETUP), 0) << host.out.message; }
    // A preference in the effect's section of the store.
    void setInt(const char *key, int32_t value) { host.prefs.setInt(pennaro::PLUGIN_NAME, key, value); }
    void setReal(const char *key, double value) { host.prefs.setReal(pennaro::PLUGIN_NAME, key, value); }
    const pennaro::PaintGlobals &globals() const {
        return *static_cast<const pennaro::PaintGlobals *>(*host.out.globalData);
    }

    uint64_t liveBefore = minihost::handleStats().live;
    minihost::Plugin plugin{PENNARO_PLUGIN_PATH};
    minihost::TestHost host;
};

}  // namespace host_test
