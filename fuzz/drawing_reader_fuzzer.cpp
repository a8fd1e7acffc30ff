// Feeds arbitrary bytes to the drawing reader as the saved block a host hands
// back on project open, in memory that moves every block whenever it is
// locked. The reader must decide what inspectBlock predicts from the bytes
// alone; an accepted drawing is read in full (everything the render relies
// on), saved, and must read back to the same drawing. Then the reader runs
// out of memory at each of its first new blocks in turn: the outcome is the
// same or a lack of memory, and nothing is ever leaked or left locked.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "format/block.h"
#include "support/drawing_content.h"
#include "support/memory.h"

namespace {

using namespace pennaro;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "drawing reader fuzzer: %s\n", what.c_str());
    std::abort();
}

MemoryHandle blockOf(Allocator &memory, const uint8_t *data, size_t size) {
    MemoryHandle h = memory.newHandle(size);
    if (size) std::memcpy(Locked<>(memory, h).get(), data, size);
    return h;
}

std::vector<uint8_t> contentOf(Allocator &memory, MemoryHandle drawing) {
    std::string problem;
    std::vector<uint8_t> content = test_support::drawingContent(memory, drawing, problem);
    if (!problem.empty()) fail("accepted drawing: " + problem);
    return content;
}

void expectClean(const test_support::TestMemory &memory) {
    if (memory.live() != 0) fail("blocks leaked");
    if (memory.locked() != 0) fail("a block was left locked");
    if (memory.misuse() != 0) fail("a call on a block that was not there, or an unlock too many");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const BlockInspection seen = inspectBlock(data, size);
    test_support::TestMemory memory;
    memory.moveOnLock(true);
    MemoryHandle block = blockOf(memory, data, size);
    const int32_t before = memory.newCalls();
    const ReadResult read = readBlock(memory, block);
    const int32_t newBlocks = memory.newCalls() - before;
    if (read.status != seen.status) fail("the reader decided otherwise than inspectBlock");
    if (read.status == ReadStatus::AlreadyInMemory) {
        if (read.drawing != block) fail("the memory form did not come back as it was");
        memory.dispose(block);  // its words are no blocks of ours
    } else if (read.status == ReadStatus::Read) {
        const std::vector<uint8_t> content = contentOf(memory, read.drawing);
        MemoryHandle saved = writeBlock(memory, read.drawing);
        if (!saved) fail("an accepted drawing could not be saved");
        // The mark is saved as it was read: one with stray low bits no longer
        // reads in this byte order once saved, so only sound marks are held
        // to reading back.
        if (Locked<>(memory, saved)[offsetof(DrawingLayout, byteOrderMark)] == 0) {
            const ReadResult again = readBlock(memory, saved);
            if (again.status != ReadStatus::Read) fail("the reader refused a block the writer made");
            if (contentOf(memory, again.drawing) != content) fail("the drawing did not come back");
            disposeDrawing(memory, again.drawing);
        } else {
            memory.dispose(saved);
        }
    } else if (read.drawing) {
        fail("a refused block came back as a drawing");
    }
    expectClean(memory);

    for (int32_t n = 1; n <= std::min(newBlocks, 8); ++n) {
        MemoryHandle copy = blockOf(memory, data, size);
        memory.failNewHandle(n);
        const ReadResult r = readBlock(memory, copy);
        memory.failNewHandle(0);
        const bool noMemory = r.status == ReadStatus::NoMemoryForHeader || r.status == ReadStatus::NoMemoryAfterSwap ||
                              r.status == ReadStatus::NoMemoryForDrawing;
        if (r.status != seen.status && !noMemory) fail("running out of memory changed the reader's decision");
        if (r.status == ReadStatus::Read) disposeDrawing(memory, r.drawing);
        else if (r.drawing) fail("a refused block came back as a drawing");
        expectClean(memory);
    }
    return 0;
}
