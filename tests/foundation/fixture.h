// The effect loaded from its shared library into a fresh stand-in host.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/globals.h"
#include "minihost/minihost.h"

namespace pennaro_test {

class LoadedEffect : public ::testing::Test {
protected:
    void SetUp() override {
        minihost::setStrictHandles(false);
        liveBefore = minihost::handleStats().live;
        ASSERT_EQ(plugin.registerEffect(), 0);
    }
    void TearDown() override { minihost::setStrictHandles(false); }

    int32_t send(int32_t command, HostWorld *output = nullptr) { return host.send(plugin.entry(), command, output); }

    // Global set-up that must succeed.
    void setUpGlobals() { ASSERT_EQ(send(HOST_CMD_GLOBAL_SETUP), 0) << host.out.message; }

    const pennaro::PaintGlobals &globals() const {
        return *static_cast<const pennaro::PaintGlobals *>(*host.out.globalData);
    }

    uint64_t liveBefore = 0;
    minihost::Plugin plugin{PENNARO_PLUGIN_PATH};
    minihost::Host host;
};

}  // namespace pennaro_test
