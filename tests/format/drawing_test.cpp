// The drawing in memory: a new drawing, freeing one, telling the forms apart,
// and bringing drawings of earlier versions up to date.
#include "format_fixture.h"

namespace format_test {
namespace {

using Drawing = FormatTest;

TEST_F(Drawing, ANewDrawingIsEmptyWithTheDefaultTools) {
    MemoryHandle h = createDrawing(memory);
    const Bytes raw = bytesOf(h);
    ASSERT_EQ(raw.size(), 256u);
    PaintSequence want;
    std::memset(&want, 0, sizeof want);
    want.layout = {272, 0x01000000u, 0, 72, 16, 0};
    want.tools.toolMode = want.tools.toolOption = 1;
    want.tools.currentBrush = want.tools.alternateBrush = {1, 1, 1, 1, 5.0f, BRUSH_KIND_ROUND, 0, PRESSURE_SCALES_SIZE};
    want.tools.currentBrushMask = want.tools.alternateBrushMask = {1, 1, 1, 1, 1, 1};
    want.editState = recordOf(h).editState;
    EXPECT_EQ(std::memcmp(raw.data(), &want, sizeof want), 0);
    ASSERT_NE(want.editState, nullptr);
    EXPECT_EQ(bytesOf(want.editState), Bytes(284, 0));
    disposeDrawing(memory, h);

    memory.failNewHandle(1);
    EXPECT_EQ(createDrawing(memory), nullptr);
    memory.failNewHandle(2);  // without its edit-state block a drawing is still a drawing
    h = createDrawing(memory);
    EXPECT_EQ(recordOf(h).editState, nullptr);
    disposeDrawing(memory, h);
}

TEST_F(Drawing, DisposingFreesEveryBlockAndNeedsNoMemory) {
    MemoryHandle h = makeDrawing({{brushOf(1, 5), 2}, {brushOf(2, 5), 4}, {{}, 0}}, 264);
    ASSERT_TRUE(convertDrawingVersion(memory, h));  // leaves undo copies
    Locked<PaintSequence>(memory, h)->drawOrder.order = memory.newHandle(12);
    // Record, edit state, table, three sample blocks, draw order, undo copies.
    EXPECT_EQ(memory.live(), 8u);
    memory.failNewHandle(1, true);
    memory.failResize(1, 4, true);
    EXPECT_EQ(disposeDrawing(memory, h), nullptr);
    EXPECT_EQ(memory.live(), 0u);
    EXPECT_EQ(disposeDrawing(memory, nullptr), nullptr);
}

// Anything but the memory form is one block of bytes to dispose, whatever
// its words say: a saved block the size of the record included.
TEST_F(Drawing, FormsAreToldApartOnAnyHandle) {
    Bytes memoryForm(256, 0), flat(496, 0), flatRecordSize(256, 0xBE);
    putRecord(memoryForm, 20, int32_t{9});
    putRecord(flat, 8, FLAT_HEADER_SIZE);
    putRecord(flatRecordSize, 8, FLAT_HEADER_SIZE);
    disposeDrawing(memory, handleWith(flatRecordSize));
    struct Case {
        Bytes bytes;
        bool flattened;
        int32_t count;  // -1: no drawing record
    };
    for (const Case &c : std::vector<Case>{
             {{}, true, -1}, {Bytes(11, 0), true, -1}, {Bytes(12, 0), false, -1}, {memoryForm, false, 9}, {flat, true, -1}}) {
        SCOPED_TRACE(c.bytes.size());
        MemoryHandle h = handleWith(c.bytes);
        EXPECT_EQ(isFlattened(memory, h), c.flattened);
        EXPECT_EQ(strokeCount(memory, h), c.count);
        EXPECT_EQ(isDrawingRecord(memory, h), c.count >= 0);
        disposeDrawing(memory, h);
    }
    EXPECT_FALSE(isFlattened(memory, nullptr));
    EXPECT_EQ(strokeCount(memory, nullptr), -1);
}

TEST_F(Drawing, WalksAreCappedByTheTableAndTheDrawOrderFreesToZero) {
    MemoryHandle table = memory.newHandle(200);
    const std::pair<int32_t, int32_t> caps[] = {{5, 2}, {1, 1}, {0, 0}, {-3, 0}};
    for (auto [count, want] : caps) EXPECT_EQ(recordsIn(memory, table, count, 72), want);
    EXPECT_EQ(recordsIn(memory, nullptr, 5, 72), 0);
    memory.dispose(table);
    const DrawOrderCache zero{};
    for (MemoryHandle order : {memory.newHandle(16), MemoryHandle{}}) {
        DrawOrderCache cache{1, 4, order, 2.5};
        freeDrawOrder(memory, cache);
        EXPECT_EQ(std::memcmp(&cache, &zero, sizeof zero), 0);
    }
}

// ---- earlier versions

// The current version is left byte for byte; later ones only get the current
// version stamped, in place. Drawings up to 264, with or without strokes,
// count as converted.
TEST_F(Drawing, VersionsAfter264AreOnlyReStamped) {
    for (uint32_t v : {FORMAT_VERSION, 265u, 270u, 271u, 273u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(v);
        MemoryHandle h = makeDrawing({{brushOf(BRUSH_KIND_SOFT, 8, 0.5f), 3}, {brushOf(BRUSH_KIND_ROUND, 4), 0}}, v);
        Bytes before = bytesOf(h), content = contentOf(h);
        EXPECT_FALSE(convertDrawingVersion(memory, h));
        putRecord(before, 0, FORMAT_VERSION);
        putRecord(content, 0, FORMAT_VERSION);
        EXPECT_EQ(bytesOf(h), before);
        EXPECT_EQ(contentOf(h), content);
        disposeDrawing(memory, h);
    }
    for (uint32_t v : {264u, 0u, 0x80000000u}) {
        MemoryHandle h = makeDrawing({}, v);
        EXPECT_TRUE(convertDrawingVersion(memory, h)) << v;
        EXPECT_EQ(recordOf(h).layout.formatVersion, 272u);
        disposeDrawing(memory, h);
    }
}

// Every brush is converted, and a copy of each stroke as it was is saved in
// the undo record first, oldest first, never owning samples. A copy that
// finds no memory is left out; the brush changes all the same.
TEST_F(Drawing, Version264BrushesAreConvertedWithUndoCopiesOfTheOldOnes) {
    const std::pair<BrushSettings, BrushSettings> brushes[] = {
        // Round brushes grow by 1.5 and lose their softness; the other kinds
        // move down one (kind 0 wraps) keeping the erase bit, and the new
        // round and soft kinds rescale their size in double precision.
        {brushOf(1, 5, 0.4f), brushOf(1, 6.5f)},
        {brushOf(2, 10, 0.5f), brushOf(1, 7.5f, 0.5f)},
        {brushOf(3, 10, 0.3f), brushOf(2, 5, 0.3f)},
        {brushOf(4, 10, 0.3f), brushOf(3, 10, 0.3f)},
        {brushOf(11, 10), brushOf(10, 5)},
        {brushOf(0, 7), brushOf(0xFFFFFFFFu, 7)},
        {brushOf(10, 3, 0.2f), brushOf(9, static_cast<float>((1.0 - static_cast<double>(0.2f) * 0.5) * 3.0), 0.2f)},
    };
    struct Case {
        bool resize, sticky;
        int32_t failing;              // the new block or resize that fails, 0: none
        std::vector<size_t> copied;  // the strokes with a copy
    };
    const Case cases[] = {{false, false, 0, {0, 1, 2, 3, 4, 5, 6}}, {false, false, 1, {1, 2, 3, 4, 5, 6}},
                          {false, true, 1, {}}, {true, false, 1, {0, 2, 3, 4, 5, 6}}, {true, true, 1, {0}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "resize " << c.resize << ", sticky " << c.sticky << ", " << c.failing);
        std::vector<StrokeDef> strokes;
        for (const auto &[old, converted] : brushes) strokes.push_back({old, 2});
        MemoryHandle h = makeDrawing(strokes, 264);
        const std::vector<PaintStroke> before = strokesOf(h);
        if (c.resize) memory.failResize(c.failing, 4, c.sticky);
        else memory.failNewHandle(c.failing, c.sticky);
        ASSERT_TRUE(convertDrawingVersion(memory, h));
        memory.failNewHandle(0);
        memory.failResize(0);
        EXPECT_EQ(recordOf(h).layout.formatVersion, 272u);
        const std::vector<PaintStroke> got = strokesOf(h);
        for (size_t i = 0; i < 7; ++i) {
            EXPECT_EQ(std::memcmp(&got[i].info.brush, &brushes[i].second, sizeof(BrushSettings)), 0) << i;
            EXPECT_EQ(got[i].points, before[i].points) << "the stroke keeps its samples";
        }
        const StrokeUndoRecord undo = recordOf(h).undoRecord;
        EXPECT_EQ(undo.undoActive, c.copied.empty() ? 0 : 1);
        ASSERT_EQ(undo.undoCount, int32_t(c.copied.size()));
        EXPECT_EQ(undo.undoStrokes ? memory.size(undo.undoStrokes) : 0, c.copied.size() * 72);
        for (size_t i = 0; i < c.copied.size(); ++i) {
            const PaintStroke copy = Locked<PaintStroke>(memory, undo.undoStrokes)[i];
            EXPECT_EQ(std::memcmp(&copy.info, &before[c.copied[i]].info, sizeof(StrokeInfo)), 0) << i;
            EXPECT_EQ(copy.points, nullptr);
        }
        disposeDrawing(memory, h);
    }
}

}  // namespace
}  // namespace format_test
