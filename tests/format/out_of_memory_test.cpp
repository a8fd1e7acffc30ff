// Running out of memory at every new block and every resize of the writer
// and the reader: the outcome each time, and nothing leaked or left locked.
// Everything runs again with blocks moving whenever they are locked.
#include <string>

#include "format_fixture.h"

namespace format_test {
namespace {

class OutOfMemory : public FormatTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { memory.moveOnLock(GetParam()); }

    // Three strokes (3, 5 and no samples), with undo copies and a draw order
    // for the writer to free as well.
    MemoryHandle sweepDrawing() {
        MemoryHandle h = makeDrawing({{brushOf(1, 5), 3}, {brushOf(2, 6), 5}, {brushOf(11, 7), 0}}, 264);
        convertDrawingVersion(memory, h);
        Locked<PaintSequence>(memory, h)->drawOrder.order = memory.newHandle(12);
        return h;
    }
    // Arms the n-th new block or resize from now (with `sticky`, every one
    // from then on), runs `step`, and tells whether the failure came.
    template <typename Step>
    bool failing(bool resize, int32_t n, bool sticky, Step step) {
        const int32_t before = resize ? memory.resizeCalls() : memory.newCalls();
        if (resize) memory.failResize(n, 4, sticky);
        else memory.failNewHandle(n, sticky);
        step();
        memory.failResize(0);
        memory.failNewHandle(0);
        return (resize ? memory.resizeCalls() : memory.newCalls()) - before >= n;
    }
};

TEST_P(OutOfMemory, WriterAtEveryNewBlockAndResize) {
    MemoryHandle block = writeBlock(memory, sweepDrawing());
    const Bytes reference = bytesOf(block);
    memory.dispose(block);
    int failures = 0;
    for (bool resize : {false, true}) {
        for (int32_t n = 1;; ++n) {
            SCOPED_TRACE((resize ? "resize " : "new block ") + std::to_string(n));
            MemoryHandle h = sweepDrawing();
            if (!failing(resize, n, false, [&] { block = writeBlock(memory, h); })) {
                EXPECT_EQ(bytesOf(block), reference);
                memory.dispose(block);
                break;
            }
            ++failures;
            EXPECT_EQ(block, nullptr);
            EXPECT_EQ(memory.live(), 0u) << "the drawing is lost with the block";
        }
    }
    // The header block, then one resize per sample block and per record.
    EXPECT_EQ(failures, 1 + 3 + 3);
}

TEST_P(OutOfMemory, ReaderAtEveryNewBlock) {
    MemoryHandle block = writeBlock(memory, sweepDrawing());
    const Bytes native = bytesOf(block);
    memory.dispose(block);
    using S = ReadStatus;
    // What each new block of the reader is for, in order: the header copy
    // (made again once a reversed block is turned around), the record, its
    // edit-state block (a drawing opens without one), the stroke table and
    // each stroke's samples.
    const std::vector<S> nativeSteps = {S::NoMemoryForHeader,  S::NoMemoryForDrawing, S::Read,
                                        S::NoMemoryForDrawing, S::NoMemoryForDrawing, S::NoMemoryForDrawing,
                                        S::NoMemoryForDrawing};
    std::vector<S> reversedSteps = nativeSteps;
    reversedSteps.insert(reversedSteps.begin() + 1, S::NoMemoryAfterSwap);
    for (bool reversed : {false, true}) {
        const std::vector<S> &steps = reversed ? reversedSteps : nativeSteps;
        for (bool sticky : {false, true}) {
            for (size_t n = 1; n <= steps.size() + 1; ++n) {
                SCOPED_TRACE(std::string(reversed ? "reversed" : "native") + (sticky ? ", from " : ", at ") +
                             std::to_string(n));
                block = handleWith(reversed ? swapped(native) : native);
                const int32_t resizes = memory.resizeCalls();
                ReadResult read{};
                const bool fired = failing(false, int32_t(n), sticky, [&] { read = readBlock(memory, block); });
                EXPECT_EQ(memory.resizeCalls(), resizes) << "the reader never resizes";
                EXPECT_EQ(fired, n <= steps.size());
                // Memory that stays gone fails the stroke table after the
                // edit-state block.
                S want = n <= steps.size() ? steps[n - 1] : S::Read;
                if (sticky && fired && want == S::Read) want = steps[n];
                ASSERT_EQ(read.status, want);
                if (want != S::Read) {
                    EXPECT_EQ(read.drawing, nullptr);
                    EXPECT_EQ(memory.live(), 0u) << "the block and everything built are gone";
                    continue;
                }
                EXPECT_EQ(recordOf(read.drawing).editState == nullptr, fired);
                block = writeBlock(memory, read.drawing);
                EXPECT_EQ(bytesOf(block), native);
                memory.dispose(block);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, OutOfMemory, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Moving" : "Fixed"; });

}  // namespace
}  // namespace format_test
