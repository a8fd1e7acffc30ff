// The saved form of a drawing: one self-contained block of 32-bit words
// (header, every stroke's samples, then the stroke table) that the host
// keeps in the project. The same reader serves the effect, which opens the
// blocks a host hands back, and the tools, which open blocks from files, so
// both refuse exactly the same blocks.
#pragma once

#include <cstdint>
#include <cstring>

#include "format/records.h"

namespace pennaro {

// Reverses the bytes of every whole 32-bit word (a trailing 1..3 bytes stay
// as they are), converting a block between the two byte orders.
void swapWords(uint8_t *bytes, uint64_t size);

// Reads one record at any byte offset without assuming alignment.
template <typename T>
inline T readRecord(const uint8_t *block, uint64_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof(T));
    return value;
}

// The record at `offset` of a block of `size` bytes written in the other byte
// order, as it reads once swapWords has turned the whole block around: the
// words turned are the block's own, whatever the record's alignment, and a
// trailing part word stays as it is.
template <typename T>
inline T readSwappedRecord(const uint8_t *block, uint64_t size, uint64_t offset) {
    uint8_t bytes[sizeof(T)];
    const uint64_t wholeWords = size & ~uint64_t{3};
    for (uint64_t i = 0; i < sizeof(T); ++i) {
        const uint64_t at = offset + i;
        bytes[i] = block[at < wholeWords ? (at & ~uint64_t{3}) + 3 - (at & 3) : at];
    }
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

// ---- structure: every count and offset of a block in this machine's byte
// order lies inside the block. Computed in 64 bits so nothing can wrap.

enum class BlockProblem : int32_t {
    None = 0,
    ShortHeader,          // fewer than 232 bytes
    NegativeStrokeCount,  // strokeCount < 0
    StrokesWithoutTable,  // hasStrokeTable 0 but strokeCount > 0
    TablePastEnd,         // the stroke records reach past the block's end
    NegativePointCount,   // a stroke with pointCount < 0
    SamplesPastEnd,       // a stroke's sample block reaches past the end
    SamplesTooShort,      // pointCount x 16 > flatPointBytes
};

struct BlockCheck {
    BlockProblem problem = BlockProblem::None;
    int32_t stroke = -1;  // the stroke concerned, for the per-stroke problems
};

// `swapped`: the block is in the other byte order.
BlockCheck checkBlockStructure(const uint8_t *block, uint64_t size, bool swapped = false);

// How many bytes a block claims, from its header and stroke table: the end
// of the header, of the stroke table or of the furthest sample block,
// whichever is last; the size at which checkBlockStructure first finds
// everything inside. Only the first `available` bytes are read. `known` is
// false while they do not yet hold the header and the whole stroke table:
// `bytes` is then how many are needed to tell.
struct BlockExtent {
    uint64_t bytes;
    bool known;
};
BlockExtent measureBlock(const uint8_t *block, uint64_t available);

// ---- reading

enum class ReadStatus : int32_t {
    Read,                 // a new memory-form drawing was built; the block is gone
    AlreadyInMemory,      // the handle holds the memory form: it is returned as it is
    UnknownFormat,        // neither form, a damaged header or a structure that does not hold
    NoMemoryForHeader,    // the header could not be copied
    NoMemoryAfterSwap,    // the header of the byte-swapped block could not be copied
    OtherVersion,         // a flattened block of another format version
    NoMemoryForDrawing,   // the memory form could not be built
};

// Why a block reads as UnknownFormat.
enum class UnknownReason : int32_t {
    None = 0,
    TooShort,         // too short to tell the form, or for a whole header
    MemoryFormSize,   // claims the memory form (word 8 is 0) but is not one record
    ByteOrderMark,    // the other byte order, but its mark is not there either
    Structure,        // see `structure`
};

// What readBlock decides for these bytes when memory does not run out, and
// why; reading nothing but the bytes. Tools use it to refuse exactly the
// blocks the effect refuses.
struct BlockInspection {
    ReadStatus status;          // Read, AlreadyInMemory, UnknownFormat or OtherVersion
    bool wholeHeader;           // the reader gets as far as copying the header
    bool otherByteOrder;        // written by a machine of the other byte order
    UnknownReason reason;
    BlockCheck structure;       // checked for blocks of every version
    uint32_t formatVersion;     // in this machine's byte order, when wholeHeader
};

BlockInspection inspectBlock(const uint8_t *bytes, uint64_t size);

struct ReadResult {
    ReadStatus status;
    MemoryHandle drawing;  // null unless Read or AlreadyInMemory
};

// Takes the (unlocked) handle over whatever happens: it comes back as the
// drawing when it already holds the memory form and is disposed otherwise,
// and whatever was built is freed again on failure. Blocks of either byte
// order are read; versions are not converted.
ReadResult readBlock(Allocator &memory, MemoryHandle block);

// ---- writing

// Turns a drawing into one flattened block and always frees the memory
// form. Returns the block, the same handle when it already holds a block,
// or null when memory ran out (the drawing is then lost).
MemoryHandle writeBlock(Allocator &memory, MemoryHandle drawing);

}  // namespace pennaro
