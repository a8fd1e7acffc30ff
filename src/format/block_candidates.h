// Finding saved drawings inside bytes of unknown layout (a project file, a
// backup, a stream decoded from one). Nothing about the container is
// assumed: a candidate is any place where the fixed words of a block's
// header stand, in either byte order, at any byte offset; its extent comes
// from its header and stroke table (measureBlock), and inspectBlock, the
// reader's own judgement, decides whether it is a drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "format/block.h"

namespace pennaro {

// The header words every saved block carries at offset 8 (flatHeaderSize,
// strokeRecordSize, pointRecordSize: 232, 72, 16), in the writer's order.
inline constexpr uint64_t SIGNATURE_OFFSET = 8;
inline constexpr uint64_t SIGNATURE_SIZE = 12;

// The offset of the first block start s >= from whose header words stand at
// s + 8 within data[0, size), or `size` when there is none.
uint64_t findBlockStart(const uint8_t *data, uint64_t size, uint64_t from);

enum class CandidateVerdict : int32_t {
    Drawing,      // the reader opens it
    Refused,      // the reader refuses it (inspection says why)
    Overlapping,  // starts inside a drawing found before it
    Truncated,    // the bytes end before the block does
    TooLarge,     // claims more bytes than the scan may hold
};

struct BlockCandidate {
    uint64_t offset = 0;  // of the block's first byte in the stream
    // The bytes the header and stroke table claim; when Truncated or
    // TooLarge with the stroke table out of reach, the bytes needed to tell.
    uint64_t length = 0;
    bool lengthKnown = false;
    CandidateVerdict verdict = CandidateVerdict::Refused;
    // What inspectBlock said of the block's `length` bytes; for Truncated
    // and TooLarge only wholeHeader, otherByteOrder and formatVersion are
    // filled (from the header, when it is there).
    BlockInspection inspection{};
    uint64_t overlapsDrawingAt = 0;  // Overlapping: where that drawing starts
    // How many bytes from `offset` come with the report: `length` when the
    // block was inspected, what the stream still held for Truncated, none
    // for TooLarge.
    uint64_t heldBytes = 0;
};

// Searches a stream of bytes handed over in pieces, in order, holding no
// more than the bytes of the blocks it is still deciding (at most
// `maxBlockBytes` each) plus the piece at hand. Candidates are reported in
// stream order, each with its bytes (heldBytes of them), which stay valid
// only during the call.
class BlockCandidateFinder {
public:
    using Report = std::function<void(const BlockCandidate &, const uint8_t *bytes)>;

    BlockCandidateFinder(uint64_t maxBlockBytes, Report report);

    void feed(const uint8_t *data, size_t size);
    // The stream has ended: blocks still waiting for bytes are Truncated.
    void finish();

    uint64_t streamSize() const { return end_; }
    // Bytes held at most at any time (for tests of bounded memory).
    uint64_t peakHeld() const { return peak_; }

private:
    struct Pending {
        uint64_t offset;
        uint64_t need;  // bytes from offset needed before it can be decided
        bool measured;  // need is the block's extent, not just a step towards it
    };
    void advance(bool atEnd);
    bool decide(Pending &p, bool atEnd);
    void emit(BlockCandidate &c, const uint8_t *bytes);
    void drop();
    const uint8_t *at(uint64_t offset) const { return buffer_.data() + (offset - base_); }

    uint64_t maxBlockBytes_;
    Report report_;
    std::vector<uint8_t> buffer_;  // stream bytes [base_, end_)
    uint64_t base_ = 0, end_ = 0;
    uint64_t searched_ = 0;  // block starts below this have been looked for
    std::vector<Pending> pending_;  // in stream order
    uint64_t drawingStart_ = 0, drawingEnd_ = 0;  // the furthest-reaching drawing so far
    uint64_t peak_ = 0;
};

const char *verdictName(CandidateVerdict verdict);

}  // namespace pennaro
