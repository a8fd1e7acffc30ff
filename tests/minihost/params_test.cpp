// Parameter values as timelines: interpolation, rounding to 16.16, holds,
// and the check-out accounting. (Control updates and keyframe counts through
// the suite are pinned by the effect's own tests in tests/host.)
#include <gtest/gtest.h>

#include "minihost/testing.h"

namespace {

// A host that knows one slider (index 1) and one popup (index 2), as if
// the effect had declared them.
class Timelines : public ::testing::Test {
protected:
    void SetUp() override {
        HostParam slider{}, popup{};
        slider.paramType = HOST_PARAM_TYPE_FIXED_SLIDER;
        slider.u.slider.value = 0x10000;
        popup.paramType = HOST_PARAM_TYPE_POPUP;
        popup.u.popup.value = 5;
        ASSERT_EQ(host.in.addParam(host.in.effectRef, -1, &slider), 0);
        ASSERT_EQ(host.in.addParam(host.in.effectRef, -1, &popup), 0);
    }
    int32_t checkout(int32_t index, int32_t time) {
        HostParam p{};
        EXPECT_EQ(host.in.checkoutParam(host.in.effectRef, index, time, 100, 2400, &p), 0);
        EXPECT_EQ(host.in.checkinParam(host.in.effectRef, &p), 0);
        return p.u.popup.value;
    }
    minihost::TestHost host;
};

TEST_F(Timelines, SlidersInterpolateInRealUnitsAndRoundHalvesAwayFromZero) {
    // Without a value set, the definition's initial value.
    EXPECT_EQ(checkout(1, 0), 0x10000);
    EXPECT_EQ(checkout(2, 12345), 5);
    EXPECT_EQ(host.keyframeCount(1), -1);
    host.setKeyframes(1, {{100, 1.0}, {300, 2.0}});
    EXPECT_EQ(checkout(1, -50), 0x10000);   // held before the first key
    EXPECT_EQ(checkout(1, 200), 0x18000);   // halfway
    EXPECT_EQ(checkout(1, 1000), 0x20000);  // held after the last key
    EXPECT_EQ(host.keyframeCount(1), 2);

    using Case = std::pair<double, int32_t>;  // in 1/65536ths, and the 16.16 word
    for (auto [real, fixed] : {Case{0.5, 1}, Case{-0.5, -1}, Case{1.49, 1}, Case{-100.0 * 65536, int32_t(0xFF9C0000u)}}) {
        host.setParam(1, real / 65536.0);
        EXPECT_EQ(checkout(1, 0), fixed) << real;
    }
    EXPECT_EQ(host.keyframeCount(1), -1);
    EXPECT_EQ(minihost::toFixed(1e12), INT32_MAX);
}

TEST_F(Timelines, PopupsHoldUntilTheNextKey) {
    host.setKeyframes(2, {{0, 1}, {100, 4}, {200, 6}});
    EXPECT_EQ(checkout(2, 99), 1);
    EXPECT_EQ(checkout(2, 100), 4);
    EXPECT_EQ(checkout(2, 199), 4);
    EXPECT_EQ(checkout(2, 5000), 6);
    EXPECT_EQ(host.keyframeCount(2), 3);
    // The parameter array of a command carries the values at its time.
    host.in.currentTime = 150;
    EXPECT_EQ(host.params()[2]->u.popup.value, 4);
    EXPECT_EQ(host.params(250)[2]->u.popup.value, 6);
}

TEST_F(Timelines, CheckoutsAreCountedAndLoggedAndMisuseIsReported) {
    HostParam p{}, q{};
    ASSERT_EQ(host.in.checkoutParam(host.in.effectRef, 1, 0, 100, 2400, &p), 0);
    ASSERT_EQ(host.in.checkoutParam(host.in.effectRef, 2, 7, 100, 2400, &q), 0);
    EXPECT_EQ(host.outstandingCheckouts(), 2);
    host.in.checkinParam(host.in.effectRef, &p);
    host.in.checkinParam(host.in.effectRef, &q);
    EXPECT_EQ(host.outstandingCheckouts(), 0);
    ASSERT_EQ(host.checkouts().size(), 2u);
    EXPECT_EQ(host.checkouts()[1].index, 2);
    EXPECT_EQ(host.checkouts()[1].time, 7);

    EXPECT_NE(host.in.checkoutParam(host.in.effectRef, 3, 0, 100, 2400, &p), 0);  // not defined
    EXPECT_NE(host.in.checkinParam(host.in.effectRef, &p), 0);                   // nothing out
    EXPECT_EQ(host.protocolErrors().size(), 2u);
}

}  // namespace
