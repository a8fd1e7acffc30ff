// Running out of host memory at every allocation and every resize in turn,
// for set-up, re-set-up, flatten and set-down: the documented result and
// message each time, and nothing leaked once the instance is set down. The
// whole suite runs again with the host moving every unlocked block.
#include "drawing_fixture.h"

namespace drawing_test {
namespace {

class OutOfMemory : public DrawingHost, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        DrawingHost::SetUp();
        minihost::setStrictHandles(GetParam());
    }

    void makeDrawingForSweep() {
        makeDrawing({{1, 0.0f, brushOf(1, 5.0f), samples(3)},
                     {2, 0.5f, brushOf(2, 6.0f), samples(5)},
                     {3, 1.0f, brushOf(11, 7.0f), samples(0)}});
        setStrokeBrush(in, 1, brushOf(2, 6.0f));  // an undo copy to free as well
        handOver(host.in.sequenceData);
    }

    std::vector<uint8_t> referenceBlock() {
        makeDrawingForSweep();
        std::vector<uint8_t> b = flattenedBytes();
        send(HOST_CMD_SEQUENCE_SETDOWN);
        EXPECT_EQ(drawingHandles(), 0u);
        return b;
    }

    // Sets the instance down and checks that nothing of it is left.
    void expectCleanAfterSetDown() {
        host.faults.newHandle.disarm();
        host.faults.resizeHandle.disarm();
        EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETDOWN), 0);
        EXPECT_EQ(drawingHandles(), 0u);
        EXPECT_EQ(minihost::handleStats().locked, 0u) << "only PaintGlobals, never locked";
    }
};

TEST_P(OutOfMemory, SetUp) {
    host.faults.newHandle.arm(1);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETUP), 4);
    EXPECT_EQ(message(), "Not enough memory. : Pennaro");
    EXPECT_TRUE(displayed());
    EXPECT_EQ(host.in.sequenceData, nullptr);
    EXPECT_EQ(drawingHandles(), 0u);

    // Without an edit-state block set-up still succeeds.
    host.faults.newHandle.arm(2);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETUP), 0);
    EXPECT_EQ(message(), "");
    EXPECT_EQ(host.out.flatSize, 256);
    EXPECT_EQ(sequence().editState, nullptr);
    expectCleanAfterSetDown();

    // Re-set-up without sequence data is set-up, failure included.
    host.faults.newHandle.arm(1);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 4);
    EXPECT_EQ(message(), text(1));
    EXPECT_EQ(host.in.sequenceData, nullptr);
}

TEST_P(OutOfMemory, FlattenAtEveryAllocationAndResize) {
    const std::vector<uint8_t> reference = referenceBlock();
    int failures = 0;
    for (minihost::FaultCountdown *fault : {&host.faults.newHandle, &host.faults.resizeHandle}) {
        for (int32_t n = 1;; ++n) {
            SCOPED_TRACE(n);
            makeDrawingForSweep();
            fault->arm(n);
            const int32_t r = send(HOST_CMD_SEQUENCE_FLATTEN);
            const bool fired = fault->callsSinceArmed() >= n;
            fault->disarm();
            if (!fired) {
                EXPECT_EQ(r, 0);
                EXPECT_EQ(bytesOf(host.in.sequenceData), reference);
                expectCleanAfterSetDown();
                break;
            }
            ++failures;
            EXPECT_EQ(r, 4);
            EXPECT_EQ(message(), "There was not enough memory to save. Zanthe will be lost. : Pennaro");
            EXPECT_TRUE(displayed());
            EXPECT_EQ(host.out.flatSize, 0);
            EXPECT_EQ(host.in.sequenceData, nullptr);
            EXPECT_EQ(drawingHandles(), 0u) << "the drawing is freed with the failure";
            expectCleanAfterSetDown();
        }
    }
    // One allocation (the header) and one resize per sample block and per record.
    EXPECT_EQ(failures, 1 + 3 + 3);
}

TEST_P(OutOfMemory, ReSetUpAtEveryAllocation) {
    const std::vector<uint8_t> native = referenceBlock();
    std::vector<uint8_t> reversed = native;
    swapWords(reversed);
    // What each allocation of the reader is for, in order; 0: no message
    // (the edit-state block).
    const std::vector<int32_t> nativeSteps = {26, 33, 0, 33, 33, 33, 33};
    const std::vector<int32_t> reversedSteps = {26, 28, 33, 0, 33, 33, 33, 33};
    for (bool isReversed : {false, true}) {
        const auto &steps = isReversed ? reversedSteps : nativeSteps;
        for (int32_t n = 1; n <= static_cast<int32_t>(steps.size()) + 1; ++n) {
            SCOPED_TRACE(std::string(isReversed ? "reversed, " : "native, ") + std::to_string(n));
            handOver(handleWith(isReversed ? reversed : native));
            host.faults.newHandle.arm(n);
            EXPECT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 0);
            const bool fired = host.faults.newHandle.callsSinceArmed() >= n;
            host.faults.newHandle.disarm();
            ASSERT_NE(host.in.sequenceData, nullptr);
            if (n > static_cast<int32_t>(steps.size())) {
                EXPECT_FALSE(fired);
                EXPECT_EQ(message(), "");
                EXPECT_EQ(flattenedBytes(), native);
            } else if (steps[n - 1] == 0) {
                EXPECT_EQ(message(), "");
                EXPECT_EQ(getStrokeCount(in), 3);
            } else {
                EXPECT_EQ(message(), text(steps[n - 1]));
                EXPECT_EQ(displayed(), steps[n - 1] != 28);
                EXPECT_EQ(getStrokeCount(in), 0) << "an empty drawing instead";
            }
            expectCleanAfterSetDown();
        }
    }
    // When memory stays gone, the instance is left without a drawing and
    // only the reader's message is shown.
    handOver(handleWith(native));
    host.faults.newHandle.arm(2, HOST_ERR_OUT_OF_MEMORY, true);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 0);
    EXPECT_EQ(message(), text(33));
    EXPECT_EQ(host.in.sequenceData, nullptr);
    expectCleanAfterSetDown();
}

TEST_P(OutOfMemory, SetDownNeedsNoMemory) {
    makeDrawingForSweep();
    host.faults.newHandle.arm(1, HOST_ERR_OUT_OF_MEMORY, true);
    host.faults.resizeHandle.arm(1, HOST_ERR_OUT_OF_MEMORY, true);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETDOWN), 0);
    EXPECT_EQ(message(), "");
    EXPECT_EQ(drawingHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(HandleModes, OutOfMemory, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Relocating" : "Plain"; });

}  // namespace
}  // namespace drawing_test
