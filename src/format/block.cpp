// The flattened block: reading it back into the memory form, and writing
// the memory form out. The writer always frees the memory form; the reader
// always takes the block over, whether it succeeds or not, and frees
// whatever it had built when it fails.
#include "format/block.h"

#include "format/drawing.h"

#include <algorithm>

namespace pennaro {

namespace {

// Bytes needed to read flatHeaderSize, the field that tells the two forms
// apart.
constexpr uint64_t FORM_FIELD_END = offsetof(DrawingLayout, flatHeaderSize) + sizeof(uint32_t);

bool holdsMemoryForm(Allocator &memory, MemoryHandle h) {
    return memory.size(h) == SEQUENCE_RECORD_SIZE &&
           Locked<PaintSequence>(memory, h)->layout.flatHeaderSize == 0;
}

// A new block holding a copy of `count` bytes, or null.
MemoryHandle copyToNewHandle(Allocator &memory, const void *source, uint64_t count) {
    MemoryHandle h = memory.newHandle(count);
    if (!h) return nullptr;
    Locked<> copy(memory, h);
    if (count > 0) std::memcpy(copy.get(), source, count);
    return h;
}

FlatDrawingHeader readHeaderCopy(Allocator &memory, MemoryHandle copy) {
    return readRecord<FlatDrawingHeader>(Locked<>(memory, copy).get(), 0);
}

// Builds the stroke table of `drawing` from the (locked, checked) block. On
// failure everything built here is freed again and strokeTable is null.
bool rebuildStrokeTable(Allocator &memory, PaintSequence &drawing, const uint8_t *block) {
    const int32_t count = drawing.layout.strokeCount;
    MemoryHandle table = memory.newHandle(static_cast<uint64_t>(count) * STROKE_RECORD_SIZE);
    if (!table) return false;
    drawing.strokeTable = table;
    Locked<PaintStroke> strokes(memory, table);
    for (int32_t i = 0; i < count; ++i) {
        const auto flat = readRecord<FlatStrokeRecord>(
            block, drawing.strokeTableOffset + static_cast<uint64_t>(i) * FLAT_STROKE_RECORD_SIZE);
        strokes[i] = PaintStroke{flat.info, nullptr, flat.flatPointBytes, flat.flatPointOffset};
    }
    for (int32_t i = 0; i < count; ++i) {
        PaintStroke &s = strokes[i];
        s.points = copyToNewHandle(memory, block + s.flatPointOffset, s.flatPointBytes);
        if (!s.points) {
            for (int32_t j = 0; j < i; ++j) memory.dispose(strokes[j].points);
            strokes.unlock();
            memory.dispose(table);
            drawing.strokeTable = nullptr;
            return false;
        }
    }
    return true;
}

// Grows *destination by the size of `source` and copies source's bytes to
// the old end. The caller keeps `source` locked. 0, or the error from
// growing the destination (then nothing changed).
int32_t appendHandle(Allocator &memory, MemoryHandle source, MemoryHandle *destination) {
    const uint64_t sourceSize = memory.size(source);
    const uint64_t oldSize = memory.size(*destination);
    if (int32_t err = memory.resize(destination, oldSize + sourceSize)) return err;
    Locked<> dest(memory, *destination);
    if (sourceSize > 0) std::memcpy(dest.get() + oldSize, *source, sourceSize);
    return 0;
}

}  // namespace

void swapWords(uint8_t *bytes, uint64_t size) {
    for (uint64_t i = 0; i + 4 <= size; i += 4) {
        const uint8_t b0 = bytes[i], b1 = bytes[i + 1];
        bytes[i] = bytes[i + 3];
        bytes[i + 1] = bytes[i + 2];
        bytes[i + 2] = b1;
        bytes[i + 3] = b0;
    }
}

namespace {

// Walks the header and stroke table of a block whose first `readable` bytes
// are there, finding the first structural problem and how far the block
// reaches (the end of its header, its stroke table and its furthest sample
// block). `size` is the block's size as far as the byte order goes: the
// words turned around for the other byte order are the whole words of
// `size`. The reader's check and the search for blocks inside other files
// both come through here, so a block found in a file has exactly the
// extent the reader will check it against.
struct LayoutWalk {
    BlockCheck check;
    uint64_t extent = FLAT_HEADER_SIZE;
    bool tableRead = false;  // every stroke record lay within the readable bytes
};

LayoutWalk walkLayout(const uint8_t *block, uint64_t size, uint64_t readable, bool swapped) {
    LayoutWalk walk;
    BlockCheck &result = walk.check;
    if (readable < FLAT_HEADER_SIZE) {
        result.problem = BlockProblem::ShortHeader;
        return walk;
    }
    auto read = [&](auto record, uint64_t offset) {
        using T = decltype(record);
        return swapped ? readSwappedRecord<T>(block, size, offset) : readRecord<T>(block, offset);
    };
    const auto header = read(FlatDrawingHeader{}, 0);
    if (header.layout.strokeCount < 0) {
        result.problem = BlockProblem::NegativeStrokeCount;
        walk.tableRead = true;
        return walk;
    }
    if (header.hasStrokeTable == 0) {
        if (header.layout.strokeCount > 0) result.problem = BlockProblem::StrokesWithoutTable;
        walk.tableRead = true;
        return walk;
    }
    const uint64_t count = static_cast<uint64_t>(header.layout.strokeCount);
    const uint64_t tableOffset = header.strokeTableOffset;
    const uint64_t tableEnd = tableOffset + count * FLAT_STROKE_RECORD_SIZE;
    walk.extent = std::max(walk.extent, tableEnd);
    // Turned around, a record that does not start on a word takes its last
    // bytes from the word the table ends in, which may reach past the table.
    const uint64_t wholeWords = size & ~uint64_t{3};
    const uint64_t tableReach =
        swapped && tableEnd > tableOffset && tableEnd - 1 < wholeWords ? (tableEnd + 3) & ~uint64_t{3} : tableEnd;
    if (tableReach > readable) {
        walk.extent = std::max(walk.extent, tableReach);
        result.problem = BlockProblem::TablePastEnd;
        return walk;
    }
    walk.tableRead = true;
    for (uint64_t i = 0; i < count; ++i) {
        const auto stroke = read(FlatStrokeRecord{}, tableOffset + i * FLAT_STROKE_RECORD_SIZE);
        const uint64_t samplesEnd = static_cast<uint64_t>(stroke.flatPointOffset) + stroke.flatPointBytes;
        walk.extent = std::max(walk.extent, samplesEnd);
        if (result.problem != BlockProblem::None) continue;
        if (stroke.info.pointCount < 0)
            result.problem = BlockProblem::NegativePointCount;
        else if (samplesEnd > readable)
            result.problem = BlockProblem::SamplesPastEnd;
        else if (static_cast<uint64_t>(stroke.info.pointCount) * POINT_RECORD_SIZE > stroke.flatPointBytes)
            result.problem = BlockProblem::SamplesTooShort;
        if (result.problem != BlockProblem::None) result.stroke = static_cast<int32_t>(i);
    }
    return walk;
}

}  // namespace

BlockCheck checkBlockStructure(const uint8_t *block, uint64_t size, bool swapped) {
    return walkLayout(block, size, size, swapped).check;
}

BlockExtent measureBlock(const uint8_t *block, uint64_t available) {
    if (available < FLAT_HEADER_SIZE) return {FLAT_HEADER_SIZE, false};
    // The reader's own test for the other byte order; the block's true size
    // is not known yet, so every word is taken as a whole one.
    const bool swapped = block[offsetof(DrawingLayout, byteOrderMark)] != 0;
    const LayoutWalk walk = walkLayout(block, ~uint64_t{3}, available, swapped);
    return {walk.extent, walk.tableRead};
}

BlockInspection inspectBlock(const uint8_t *bytes, uint64_t size) {
    BlockInspection seen{ReadStatus::UnknownFormat, false, false, UnknownReason::TooShort, {}, 0};
    if (size < FORM_FIELD_END) return seen;
    if (readRecord<uint32_t>(bytes, offsetof(DrawingLayout, flatHeaderSize)) == 0) {
        // The memory form is exactly one PaintSequence; anything else that
        // claims to be one is neither form and cannot be trusted.
        if (size == SEQUENCE_RECORD_SIZE) {
            seen.status = ReadStatus::AlreadyInMemory;
            seen.reason = UnknownReason::None;
        } else {
            seen.reason = UnknownReason::MemoryFormSize;
        }
        return seen;
    }
    // Never read a header that is not all there.
    if (size < FLAT_HEADER_SIZE) return seen;
    seen.wholeHeader = true;
    // Byte 4 is the low byte of the byte-order mark where we run; a writer of
    // the other byte order put its high byte there.
    seen.otherByteOrder = bytes[offsetof(DrawingLayout, byteOrderMark)] != 0;
    const auto header = seen.otherByteOrder ? readSwappedRecord<FlatDrawingHeader>(bytes, size, 0)
                                            : readRecord<FlatDrawingHeader>(bytes, 0);
    seen.formatVersion = header.layout.formatVersion;
    seen.structure = checkBlockStructure(bytes, size, seen.otherByteOrder);
    if (seen.otherByteOrder && (header.layout.byteOrderMark >> 24) == 0) {
        seen.reason = UnknownReason::ByteOrderMark;
        return seen;
    }
    if (header.layout.formatVersion != FORMAT_VERSION) {
        seen.status = ReadStatus::OtherVersion;
        seen.reason = UnknownReason::None;
        return seen;
    }
    // The render and the rasterizer trust every count and offset of an
    // accepted drawing, so a block that does not hold together is refused
    // before anything is built from it.
    if (seen.structure.problem != BlockProblem::None) {
        seen.reason = UnknownReason::Structure;
        return seen;
    }
    seen.status = ReadStatus::Read;
    seen.reason = UnknownReason::None;
    return seen;
}

ReadResult readBlock(Allocator &memory, MemoryHandle block) {
    if (!block) return {ReadStatus::UnknownFormat, nullptr};
    const uint64_t size = memory.size(block);
    auto *bytes = static_cast<uint8_t *>(memory.lock(block));
    // Refuses the block: dispose it (it is locked).
    auto refuse = [&](ReadStatus status) {
        memory.unlock(block);
        memory.dispose(block);
        return ReadResult{status, nullptr};
    };
    const BlockInspection seen = inspectBlock(bytes, size);
    if (seen.status == ReadStatus::AlreadyInMemory) {
        memory.unlock(block);
        return {ReadStatus::AlreadyInMemory, block};
    }
    if (!seen.wholeHeader) return refuse(seen.status);

    // The header is read from a copy, in this machine's byte order; the
    // block itself is turned around in place.
    MemoryHandle headerCopy = copyToNewHandle(memory, bytes, FLAT_HEADER_SIZE);
    if (!headerCopy) return refuse(ReadStatus::NoMemoryForHeader);
    if (seen.otherByteOrder) {
        memory.dispose(headerCopy);
        swapWords(bytes, size);
        headerCopy = copyToNewHandle(memory, bytes, FLAT_HEADER_SIZE);
        if (!headerCopy) return refuse(ReadStatus::NoMemoryAfterSwap);
    }
    if (seen.status != ReadStatus::Read) {
        memory.dispose(headerCopy);
        return refuse(seen.status);
    }
    const FlatDrawingHeader header = readHeaderCopy(memory, headerCopy);

    MemoryHandle drawingHandle = memory.newHandle(SEQUENCE_RECORD_SIZE);
    if (!drawingHandle) {
        memory.dispose(headerCopy);
        return refuse(ReadStatus::NoMemoryForDrawing);
    }
    auto *drawing = static_cast<PaintSequence *>(memory.lock(drawingHandle));
    std::memset(drawing, 0, sizeof(PaintSequence));
    drawing->layout = header.layout;
    drawing->strokeTableSize = header.strokeTableSize;
    drawing->strokeTableOffset = header.strokeTableOffset;
    drawing->tools = header.tools;
    drawing->drawOrder.orderCount = header.layout.strokeCount;
    drawing->editState = newEditStateBlock(memory);
    memory.dispose(headerCopy);

    if (header.hasStrokeTable != 0 && !rebuildStrokeTable(memory, *drawing, bytes)) {
        // The new record still carries the block's flatHeaderSize; clear it
        // so the handle is freed as the memory form it is.
        drawing->layout.flatHeaderSize = 0;
        memory.unlock(drawingHandle);
        disposeDrawing(memory, drawingHandle);
        return refuse(ReadStatus::NoMemoryForDrawing);
    }
    memory.unlock(block);
    memory.dispose(block);
    drawing->layout.flatHeaderSize = 0;
    memory.unlock(drawingHandle);
    return {ReadStatus::Read, drawingHandle};
}

MemoryHandle writeBlock(Allocator &memory, MemoryHandle drawingHandle) {
    if (!drawingHandle) return nullptr;
    if (!holdsMemoryForm(memory, drawingHandle)) return drawingHandle;

    MemoryHandle block = memory.newHandle(FLAT_HEADER_SIZE);
    if (!block) return disposeDrawing(memory, drawingHandle);

    auto *drawing = static_cast<PaintSequence *>(memory.lock(drawingHandle));
    {
        FlatDrawingHeader header{};
        header.layout = drawing->layout;
        header.hasStrokeTable = 1;
        header.tools = drawing->tools;
        std::memcpy(Locked<>(memory, block).get(), &header, sizeof header);
    }
    freeRunTimeParts(memory, *drawing);

    // Gives up: the block and the drawing are both lost.
    auto fail = [&]() {
        memory.unlock(drawingHandle);
        memory.dispose(block);
        return disposeDrawing(memory, drawingHandle);
    };
    MemoryHandle tableHandle = drawing->strokeTable;
    if (tableHandle) {
        const int32_t count = recordsIn(memory, tableHandle, drawing->layout.strokeCount, STROKE_RECORD_SIZE);
        auto *strokes = static_cast<PaintStroke *>(memory.lock(tableHandle));
        for (int32_t i = 0; i < count; ++i) {
            PaintStroke &s = strokes[i];
            s.flatPointOffset = static_cast<uint32_t>(memory.size(block));
            if (!s.points) {
                s.flatPointBytes = 0;
                continue;
            }
            memory.lock(s.points);
            s.flatPointBytes = static_cast<uint32_t>(memory.size(s.points));
            const int32_t err = appendHandle(memory, s.points, &block);
            memory.unlock(s.points);
            if (err != 0) {
                memory.unlock(tableHandle);
                return fail();
            }
        }
        {
            Locked<FlatDrawingHeader> header(memory, block);
            header->strokeTableSize =
                static_cast<uint32_t>(static_cast<uint64_t>(drawing->layout.strokeCount) * FLAT_STROKE_RECORD_SIZE);
            header->strokeTableOffset = static_cast<uint32_t>(memory.size(block));
        }
        for (int32_t i = 0; i < count; ++i) {
            const PaintStroke &s = strokes[i];
            const uint64_t end = memory.size(block);
            if (memory.resize(&block, end + FLAT_STROKE_RECORD_SIZE) != 0) {
                memory.unlock(tableHandle);
                return fail();
            }
            const FlatStrokeRecord record{s.info, 1, s.flatPointBytes, s.flatPointOffset};
            std::memcpy(Locked<>(memory, block).get() + end, &record, sizeof record);
        }
        memory.unlock(tableHandle);
    }
    memory.unlock(drawingHandle);
    disposeDrawing(memory, drawingHandle);

    Locked<FlatDrawingHeader>(memory, block)->layout.flatHeaderSize = FLAT_HEADER_SIZE;
    return block;
}

}  // namespace pennaro
