// The saved block: every decision of the reader, with inspectBlock predicting
// it from the bytes alone, in both byte orders. (The writer's exact layout is
// pinned by the reference blocks, which come back byte for byte.)
#include <cctype>

#include "format_fixture.h"

namespace format_test {
namespace {

using Block = FormatTest;

// A block saved without a stroke table reads as a drawing without one; such
// a drawing saves an empty table at offset 0, which reads as an empty table,
// which saves right after the header. (A memory form given to the reader
// comes back as it is: see Decisions.)
TEST_F(Block, BlocksWithAndWithoutAStrokeTable) {
    MemoryHandle block = writeBlock(memory, createDrawing(memory));
    const Bytes empty = bytesOf(block);
    EXPECT_EQ(writeBlock(memory, block), block) << "a block given to the writer comes back as it is";
    EXPECT_EQ(bytesOf(block), empty);
    EXPECT_EQ(writeBlock(memory, nullptr), nullptr);
    EXPECT_EQ(readBlock(memory, nullptr).status, ReadStatus::UnknownFormat);
    ASSERT_EQ(empty.size(), 232u);
    const auto h = readRecord<FlatDrawingHeader>(empty.data(), 0);
    EXPECT_EQ(std::vector<uint32_t>({h.hasStrokeTable, h.strokeTableSize, h.strokeTableOffset}),
              std::vector<uint32_t>({1, 0, 0}));
    Bytes noTable = empty;
    putRecord(noTable, offsetof(FlatDrawingHeader, hasStrokeTable), uint32_t{0});
    for (MemoryHandle in : {handleWith(noTable), block}) {
        const ReadResult read = readBlock(memory, in);
        ASSERT_EQ(read.status, ReadStatus::Read);
        const MemoryHandle table = recordOf(read.drawing).strokeTable;
        EXPECT_EQ(table != nullptr, in == block);
        EXPECT_EQ(table ? memory.size(table) : 0, 0u);
        MemoryHandle again = writeBlock(memory, read.drawing);
        EXPECT_EQ(readRecord<FlatDrawingHeader>(bytesOf(again).data(), 0).strokeTableOffset, in == block ? 232u : 0u);
        memory.dispose(again);
    }
}

// ---- the reader's decisions, on a block of four strokes (3 samples, 5 with
// four spare bytes, none without a sample block, 1): samples from byte 232,
// the stroke table from 380, 652 bytes.

constexpr size_t COUNT = 20, HAS_TABLE = 24, TABLE_AT = 32, S0 = 380, S1 = 448, SIZE = 652;
constexpr size_t POINTS = 52, BYTES = 60, SAMPLES_AT = 64;  // in a stroke record

struct Decision {
    const char *name;
    std::vector<std::pair<size_t, uint32_t>> words;  // changed in the block
    ReadStatus status;
    UnknownReason reason = UnknownReason::None;
    BlockProblem problem = BlockProblem::None;
    int32_t stroke = -1;
    size_t size = SIZE;
};
void PrintTo(const Decision &d, std::ostream *os) { *os << d.name; }

using S = ReadStatus;
using R = UnknownReason;
using P = BlockProblem;
const S U = S::UnknownFormat;

const Decision kDecisions[] = {
    {"sound", {}, S::Read},
    {"no bytes", {}, U, R::TooShort, P::None, -1, 0},
    {"eleven bytes", {}, U, R::TooShort, P::None, -1, 11},
    {"short header", {}, U, R::TooShort, P::None, -1, 231},
    {"memory-form mark on a block", {{8, 0}}, U, R::MemoryFormSize},
    {"memory form", {{8, 0}}, S::AlreadyInMemory, R::None, P::None, -1, 256},
    {"table cut off", {}, U, R::Structure, P::TablePastEnd, -1, SIZE - 1},
    {"table offset past the end", {{TABLE_AT, 600}}, U, R::Structure, P::TablePastEnd},
    {"table offset wraps in 32 bits", {{TABLE_AT, 0xFFFFFFF0u}}, U, R::Structure, P::TablePastEnd},
    {"huge stroke count", {{COUNT, 0x7FFFFFFF}}, U, R::Structure, P::TablePastEnd},
    {"negative stroke count", {{COUNT, 0xFFFFFFFFu}}, U, R::Structure, P::NegativeStrokeCount},
    {"strokes without a table", {{HAS_TABLE, 0}}, U, R::Structure, P::StrokesWithoutTable},
    {"no strokes and no table, whatever the offset", {{HAS_TABLE, 0}, {COUNT, 0}, {TABLE_AT, 0xFFFFFFF0u}}, S::Read},
    {"negative point count", {{S1 + POINTS, 0xFFFFFFFBu}}, U, R::Structure, P::NegativePointCount, 1},
    {"more points than bytes", {{S0 + POINTS, 4}}, U, R::Structure, P::SamplesTooShort, 0},
    {"point count overflows 32 bits", {{S0 + POINTS, 0x10000003}}, U, R::Structure, P::SamplesTooShort, 0},
    {"samples past the end", {{S1 + SAMPLES_AT, 600}}, U, R::Structure, P::SamplesPastEnd, 1},
    {"sample offset wraps in 32 bits", {{S1 + SAMPLES_AT, 0xFFFFFFF0u}, {S1 + BYTES, 32}}, U, R::Structure,
     P::SamplesPastEnd, 1},
    {"sample size past the end", {{S0 + BYTES, 0xFFFFFFF0u}}, U, R::Structure, P::SamplesPastEnd, 0},
    // Trailing bytes, spare sample bytes that are no whole word (which puts
    // the records after them off word boundaries once saved), and samples
    // over the stroke table that end with the block: all inside it.
    {"odd but sound", {{S0 + POINTS, 2}, {S0 + BYTES, 47}, {S1 + SAMPLES_AT, 636}, {S1 + POINTS, 1}, {S1 + BYTES, 19}},
     S::Read, R::None, P::None, -1, SIZE + 3},
    {"version 264", {{0, 264}}, S::OtherVersion},
    {"version 273", {{0, 273}}, S::OtherVersion},
    // The version is decided first; the structure is checked all the same.
    {"version 265 and cut off", {{0, 265}}, S::OtherVersion, R::None, P::TablePastEnd, -1, SIZE - 1},
};

class Decisions : public FormatTest, public ::testing::WithParamInterface<Decision> {
protected:
    Bytes fourStrokes() {
        MemoryHandle h = makeDrawing({{brushOf(BRUSH_KIND_SOFT, 8, 0.5f), 3},
                                      {brushOf(BRUSH_KIND_SQUARE | BRUSH_ERASE, 20), 5},
                                      {brushOf(BRUSH_KIND_ROUND, 4), 0},
                                      {brushOf(BRUSH_KIND_ROUND, 4), 1}});
        {
            Locked<PaintStroke> t(memory, recordOf(h).strokeTable);
            EXPECT_EQ(memory.resize(&t[1].points, 84), 0);
            memory.dispose(t[2].points);
            t[2].points = nullptr;
        }
        MemoryHandle block = writeBlock(memory, h);
        const Bytes b = bytesOf(block);
        memory.dispose(block);
        return b;
    }
};

// With blocks moving whenever they are locked, an accepted drawing comes
// with fresh run-time parts, and saved and read again it is the same
// drawing; a block the writer made comes back byte for byte, from either
// byte order.
TEST_P(Decisions, InspectionPredictsTheReader) {
    const Decision &d = GetParam();
    Bytes b = fourStrokes();
    ASSERT_EQ(b.size(), SIZE);
    for (auto [at, word] : d.words) putRecord(b, at, word);
    b.resize(d.size, 0x77);
    const bool wholeHeader = b.size() >= FLAT_HEADER_SIZE && readRecord<uint32_t>(b.data(), 8) != 0;
    // The same bytes from a machine of the other byte order decide the same,
    // and so do they with a mark that has stray low bits.
    std::vector<Bytes> forms = {b};
    if (wholeHeader) {
        forms = {b, swapped(b), swapped(b)};
        forms[2][7] = 0xE8;
    }
    memory.moveOnLock(true);
    for (size_t form = 0; form < forms.size(); ++form) {
        const Bytes &bytes = forms[form];
        SCOPED_TRACE(form == 0 ? "this byte order" : form == 1 ? "other byte order" : "stray mark bits");
        const BlockInspection seen = inspectBlock(bytes.data(), bytes.size());
        EXPECT_EQ(seen.status, d.status);
        EXPECT_EQ(seen.reason, d.reason);
        EXPECT_EQ(seen.structure.problem, d.problem);
        EXPECT_EQ(seen.structure.stroke, d.stroke);
        EXPECT_EQ(seen.otherByteOrder, form > 0);
        EXPECT_EQ(seen.wholeHeader, wholeHeader);
        EXPECT_EQ(seen.formatVersion, wholeHeader ? readRecord<uint32_t>(b.data(), 0) : 0);
        const BlockCheck alone = checkBlockStructure(bytes.data(), bytes.size());
        EXPECT_EQ(alone.problem == P::ShortHeader, bytes.size() < FLAT_HEADER_SIZE);

        MemoryHandle h = handleWith(bytes);
        const ReadResult read = readBlock(memory, h);
        EXPECT_EQ(read.status, d.status);
        EXPECT_EQ(read.drawing != nullptr, d.status == S::Read || d.status == S::AlreadyInMemory);
        if (read.status == S::AlreadyInMemory) {
            EXPECT_EQ(read.drawing, h);
            memory.dispose(h);
        } else if (read.status == S::Read) {
            const PaintSequence s = recordOf(read.drawing);
            const DrawOrderCache noOrder{0, s.layout.strokeCount, nullptr, 0.0};
            EXPECT_EQ(std::memcmp(&s.drawOrder, &noOrder, sizeof noOrder), 0);
            EXPECT_EQ(s.undoRecord.undoStrokes, nullptr);
            EXPECT_EQ(bytesOf(s.editState), Bytes(284, 0));
            const Bytes content = contentOf(read.drawing);
            MemoryHandle saved = writeBlock(memory, read.drawing);
            // The mark is saved as it was read: one with stray low bits no
            // longer reads in this byte order once saved, so only sound marks
            // are held to reading back.
            if (form < 2) {
                if (d.words.empty() && d.size == SIZE) {
                    EXPECT_EQ(bytesOf(saved), b);
                }
                const ReadResult again = readBlock(memory, saved);
                ASSERT_EQ(again.status, S::Read);
                EXPECT_EQ(contentOf(again.drawing), content);
                saved = again.drawing;
            }
            disposeDrawing(memory, saved);
        }
        EXPECT_EQ(memory.live(), 0u) << "a refused block is disposed";
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, Decisions, ::testing::ValuesIn(kDecisions), [](const auto &info) {
    std::string name = info.param.name;
    for (char &c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

}  // namespace
}  // namespace format_test
