// Every way the reader refuses a saved block: its message, whether it is
// shown, and that nothing is left behind. Through re-set-up the instance
// then gets an empty drawing.
#include "drawing_fixture.h"

namespace drawing_test {
namespace {

class Reader : public DrawingHost {
protected:
    // The 496-byte block of two strokes (3 and 5 samples).
    std::vector<uint8_t> goodBlock() {
        makeThreeAndFive();
        host.in.sequenceData = flattenSequence(in);
        std::vector<uint8_t> b = bytesOf(host.in.sequenceData);
        minihost::disposeHandle(host.in.sequenceData);
        host.in.sequenceData = nullptr;
        return b;
    }

    // Reads `bytes` in process; expects a refusal with `messageNumber`.
    // With `failAllocation`, the reader's n-th allocation fails.
    void expectRefused(const std::vector<uint8_t> &bytes, int32_t messageNumber, bool display,
                       int32_t failAllocation = 0) {
        clearMessage();
        host.in.sequenceData = handleWith(bytes);
        if (failAllocation) host.faults.newHandle.arm(failAllocation);
        EXPECT_EQ(unflattenSequence(in, out), nullptr);
        host.faults.newHandle.disarm();
        EXPECT_EQ(message(), text(messageNumber));
        EXPECT_EQ(displayed(), display);
        EXPECT_EQ(drawingHandles(), 0u) << "the block and everything built are gone";
        host.in.sequenceData = nullptr;
    }
};

TEST_F(Reader, UnreadableBlocksAreRefusedWithUnknownFormat) {
    const std::vector<uint8_t> good = goodBlock();
    using Edit = std::function<void(std::vector<uint8_t> &)>;
    auto header = [](std::vector<uint8_t> &b) { return recordAt<FlatDrawingHeader>(b, 0); };
    auto setHeader = [](std::vector<uint8_t> &b, const FlatDrawingHeader &h) { putRecord(b, 0, h); };
    auto stroke = [](std::vector<uint8_t> &b, int i) { return recordAt<FlatStrokeRecord>(b, 360 + 68 * i); };
    auto setStroke = [](std::vector<uint8_t> &b, int i, const FlatStrokeRecord &r) { putRecord(b, 360 + 68 * i, r); };
    const std::vector<std::pair<const char *, Edit>> cases = {
        {"empty", [](auto &b) { b.clear(); }},
        {"eleven bytes", [](auto &b) { b.resize(11); }},
        {"short header", [](auto &b) { b.resize(231); }},
        {"table cut off", [](auto &b) { b.resize(495); }},
        {"table offset past the end",
         [&](auto &b) { auto h = header(b); h.strokeTableOffset = 430; setHeader(b, h); }},
        {"table offset wraps in 32 bits",
         [&](auto &b) { auto h = header(b); h.strokeTableOffset = 0xFFFFFFF0u; setHeader(b, h); }},
        {"huge stroke count",
         [&](auto &b) { auto h = header(b); h.strokeCount = 0x7FFFFFFF; setHeader(b, h); }},
        {"negative stroke count",
         [&](auto &b) { auto h = header(b); h.strokeCount = -1; setHeader(b, h); }},
        {"strokes without a table",
         [&](auto &b) { auto h = header(b); h.hasStrokeTable = 0; setHeader(b, h); }},
        {"negative point count",
         [&](auto &b) { auto r = stroke(b, 1); r.pointCount = -5; setStroke(b, 1, r); }},
        {"more points than bytes",
         [&](auto &b) { auto r = stroke(b, 0); r.pointCount = 4; setStroke(b, 0, r); }},
        {"point count overflows 32 bits",
         [&](auto &b) { auto r = stroke(b, 0); r.pointCount = 0x10000003; setStroke(b, 0, r); }},
        {"samples past the end",
         [&](auto &b) { auto r = stroke(b, 1); r.flatPointOffset = 440; setStroke(b, 1, r); }},
        {"sample offset wraps in 32 bits",
         [&](auto &b) { auto r = stroke(b, 1); r.flatPointOffset = 0xFFFFFFF0u; r.flatPointBytes = 0x20; setStroke(b, 1, r); }},
        {"sample size past the end",
         [&](auto &b) { auto r = stroke(b, 0); r.flatPointBytes = 0xFFFFFFF0u; setStroke(b, 0, r); }},
    };
    for (const auto &[name, edit] : cases) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> b = good;
        edit(b);
        expectRefused(b, 29, false);
        if (b.size() >= 232 && b[4] == 0) {
            // The same damage in a block of the other byte order.
            swapWords(b);
            expectRefused(b, 29, false);
        }
    }
}

TEST_F(Reader, AcceptsOddButSoundBlocks) {
    std::vector<uint8_t> b = goodBlock();
    // Trailing bytes, a stroke with spare sample bytes, and a stroke whose
    // samples are shared with another: all inside the block.
    b.resize(b.size() + 3, 0x77);
    auto r = recordAt<FlatStrokeRecord>(b, 360);
    r.pointCount = 2;
    r.flatPointBytes = 47;
    putRecord(b, 360, r);
    auto r1 = recordAt<FlatStrokeRecord>(b, 428);
    r1.flatPointOffset = 232;
    r1.pointCount = 0;
    r1.flatPointBytes = 0;
    putRecord(b, 428, r1);
    host.in.sequenceData = handleWith(b);
    host.in.sequenceData = unflattenSequence(in, out);
    ASSERT_NE(host.in.sequenceData, nullptr) << message();
    const auto got = strokes();
    EXPECT_EQ(got[0].pointCount, 2);
    EXPECT_EQ(minihost::getHandleSize(got[0].points), 47u);
    EXPECT_EQ(minihost::getHandleSize(got[1].points), 0u);
    handOver(host.in.sequenceData);
}

TEST_F(Reader, OldVersionIsRefusedAndReSetUpGivesAnEmptyDrawing) {
    std::vector<uint8_t> b = goodBlock();
    auto h = recordAt<FlatDrawingHeader>(b, 0);
    h.formatVersion = 265;
    putRecord(b, 0, h);
    expectRefused(b, 30, true);
    EXPECT_EQ(message(), "Could not convert old drawing. : Pennaro");

    h.formatVersion = 264;
    putRecord(b, 0, h);
    handOver(handleWith(b));
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 0);
    EXPECT_EQ(message(), text(30)) << "the reader's message only; no conversion";
    EXPECT_TRUE(displayed());
    ASSERT_NE(host.in.sequenceData, nullptr);
    EXPECT_EQ(host.out.sequenceData, host.in.sequenceData);
    EXPECT_EQ(drawingHandles(), 2u) << "an empty drawing and its edit state";
    minihost::unlockHandle(host.in.sequenceData);
    EXPECT_EQ(getStrokeCount(in), 0);
    EXPECT_EQ(sequence().formatVersion, 272u);
    minihost::lockHandle(host.in.sequenceData);
}

TEST_F(Reader, DamagedBlockThroughReSetUpLeavesOneMessageAndAnEmptyDrawing) {
    std::vector<uint8_t> b = goodBlock();
    b.resize(300);
    handOver(handleWith(b));
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 0);
    EXPECT_EQ(message(), "Could not open drawing. Unknown format. : Pennaro");
    EXPECT_FALSE(displayed());
    EXPECT_EQ(drawingHandles(), 2u);
}

TEST_F(Reader, OutOfMemoryMessagesByStep) {
    const std::vector<uint8_t> good = goodBlock();
    std::vector<uint8_t> reversed = good;
    swapWords(reversed);
    struct Case {
        const char *name;
        const std::vector<uint8_t> *block;
        int32_t failingAllocation;
        int32_t message;
        bool display;
    };
    const Case cases[] = {
        {"header copy", &good, 1, 26, true},
        {"header copy after reversal", &reversed, 2, 28, false},
        {"sequence", &good, 2, 33, true},
        {"stroke table", &good, 4, 33, true},
        {"second sample block", &good, 6, 33, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectRefused(*c.block, c.message, c.display, c.failingAllocation);
    }
    // Without an edit-state block the drawing still opens.
    clearMessage();
    host.in.sequenceData = handleWith(good);
    host.faults.newHandle.arm(3);
    host.in.sequenceData = unflattenSequence(in, out);
    host.faults.newHandle.disarm();
    ASSERT_NE(host.in.sequenceData, nullptr);
    EXPECT_EQ(message(), "");
    EXPECT_EQ(sequence().editState, nullptr);
    EXPECT_EQ(getStrokeCount(in), 2);
    handOver(host.in.sequenceData);
}

}  // namespace
}  // namespace drawing_test
