#include "format/block_candidates.h"

#include <algorithm>
#include <cstring>

#include "simd/vectors.h"

namespace pennaro {

namespace {

// flatHeaderSize, strokeRecordSize and pointRecordSize as a writer of
// either byte order leaves them.
constexpr uint8_t LITTLE_WORDS[SIGNATURE_SIZE] = {0xE8, 0, 0, 0, 0x48, 0, 0, 0, 0x10, 0, 0, 0};
constexpr uint8_t BIG_WORDS[SIGNATURE_SIZE] = {0, 0, 0, 0xE8, 0, 0, 0, 0x48, 0, 0, 0, 0x10};
// Both orders put 0xE8, 0x48 and 0x10 four bytes apart: at the words' first
// byte for a little-endian writer, at their last for a big-endian one.
constexpr uint64_t BIG_LEAD = 3;

// A block start whose words would sit at `words` (big: the big-endian form).
bool wordsAt(const uint8_t *data, uint64_t words, bool big) {
    return std::memcmp(data + words, big ? BIG_WORDS : LITTLE_WORDS, SIGNATURE_SIZE) == 0;
}

}  // namespace

// Fast enough to run over whole disks: a vector search for three bytes four
// apart, with the full words checked only where those match.
uint64_t findBlockStart(const uint8_t *data, uint64_t size, uint64_t from) {
    if (size < SIGNATURE_OFFSET + SIGNATURE_SIZE) return size;
    const uint64_t lastWords = size - SIGNATURE_SIZE;  // the last place words can start
    // k runs over the places of the 0xE8 byte: words at k (little-endian)
    // or at k - 3 (big-endian), for block starts from `from` on.
    uint64_t k = from + SIGNATURE_OFFSET;
    const uint64_t kEnd = lastWords + BIG_LEAD + 1;  // exclusive
    auto check = [&](uint64_t at) -> uint64_t {
        // Big first: its block starts three bytes earlier.
        if (at >= BIG_LEAD && at - BIG_LEAD >= from + SIGNATURE_OFFSET && at - BIG_LEAD <= lastWords &&
            wordsAt(data, at - BIG_LEAD, true))
            return at - BIG_LEAD - SIGNATURE_OFFSET;
        if (at <= lastWords && wordsAt(data, at, false)) return at - SIGNATURE_OFFSET;
        return size;
    };
#if PENNARO_HAVE_SSE2
    using V = simd::V128;
    const V::I e8 = V::set8(0xE8), h48 = V::set8(0x48), h10 = V::set8(0x10);
    // Loads reach k + 8 + 15; every lane is then below kEnd.
    uint64_t checkedTo = k;  // places before it were seen to hold an 0xE8 nearby
    while (k + 24 <= size) {
        // Most data holds few 0xE8 bytes: 64 places without one are passed
        // over with a single test.
        if (k >= checkedTo && k + 64 <= size) {
            const uint8_t *p = data + k;
            const V::I any = V::or_(V::or_(V::cmpeq8(V::load(p), e8), V::cmpeq8(V::load(p + 16), e8)),
                                    V::or_(V::cmpeq8(V::load(p + 32), e8), V::cmpeq8(V::load(p + 48), e8)));
            if (!V::any(any)) {
                k += 64;
                continue;
            }
            checkedTo = k + 64;
        }
        const V::I hit = V::and_(V::and_(V::cmpeq8(V::load(data + k), e8), V::cmpeq8(V::load(data + k + 4), h48)),
                                 V::cmpeq8(V::load(data + k + 8), h10));
        uint32_t mask = V::byteMask(hit);
        while (mask) {
            const uint64_t at = k + static_cast<uint64_t>(__builtin_ctz(mask));
            mask &= mask - 1;
            const uint64_t found = check(at);
            if (found != size) return found;
        }
        k += 16;
    }
#endif
    for (; k < kEnd; ++k) {
        if (data[k] != 0xE8 || k + 8 >= size || data[k + 4] != 0x48 || data[k + 8] != 0x10) continue;
        const uint64_t found = check(k);
        if (found != size) return found;
    }
    return size;
}

const char *verdictName(CandidateVerdict verdict) {
    switch (verdict) {
        case CandidateVerdict::Drawing: return "drawing";
        case CandidateVerdict::Refused: return "refused";
        case CandidateVerdict::Overlapping: return "overlapping";
        case CandidateVerdict::Truncated: return "truncated";
        case CandidateVerdict::TooLarge: return "too-large";
    }
    return "refused";
}

BlockCandidateFinder::BlockCandidateFinder(uint64_t maxBlockBytes, Report report)
    : maxBlockBytes_(std::max<uint64_t>(maxBlockBytes, FLAT_HEADER_SIZE)), report_(std::move(report)) {}

void BlockCandidateFinder::feed(const uint8_t *data, size_t size) {
    if (size == 0) return;
    if (pending_.empty()) {
        // Nothing is waiting, so only the last few bytes of the stream are
        // held: search the new bytes where they are, and copy them only
        // from the first block start found on.
        const uint64_t tail = SIGNATURE_OFFSET + SIGNATURE_SIZE - 1;
        const uint64_t heldBefore = end_ - base_;  // at most `tail`, all from searched_ on
        uint64_t first = UINT64_MAX;               // stream offset of the first start found
        if (heldBefore > 0) {
            uint8_t joined[2 * (SIGNATURE_OFFSET + SIGNATURE_SIZE)];
            const uint64_t fromData = std::min<uint64_t>(size, tail);
            std::memcpy(joined, buffer_.data(), heldBefore);
            std::memcpy(joined + heldBefore, data, fromData);
            const uint64_t s = findBlockStart(joined, heldBefore + fromData, 0);
            if (s < heldBefore) first = base_ + s;
        }
        if (first == UINT64_MAX) {
            const uint64_t s = findBlockStart(data, size, 0);
            if (s < size) first = end_ + s;
        }
        if (first == UINT64_MAX) {
            // Keep the last bytes, where block starts are not yet decided.
            end_ += size;
            const uint64_t keep = std::min<uint64_t>(end_, tail);
            if (size >= keep) {
                buffer_.assign(data + size - keep, data + size);
            } else {
                buffer_.erase(buffer_.begin(), buffer_.end() - static_cast<std::ptrdiff_t>(keep - size));
                buffer_.insert(buffer_.end(), data, data + size);
            }
            base_ = end_ - keep;
            searched_ = base_;
            peak_ = std::max<uint64_t>(peak_, keep);
            return;
        }
        // From the first start on, the bytes are held and searched as usual.
        if (first >= end_) {
            buffer_.clear();
            base_ = searched_ = first;
            const uint64_t skip = first - end_;
            end_ = first;
            data += skip;
            size -= skip;
        }
    }
    buffer_.insert(buffer_.end(), data, data + size);
    end_ += size;
    peak_ = std::max<uint64_t>(peak_, buffer_.size());
    advance(false);
    drop();
}

void BlockCandidateFinder::finish() {
    advance(true);
    pending_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
    base_ = searched_ = end_;
}

void BlockCandidateFinder::advance(bool atEnd) {
    const uint64_t held = end_ - base_;
    for (uint64_t from = searched_ - base_;;) {
        const uint64_t s = findBlockStart(buffer_.data(), held, from);
        if (s >= held) break;
        pending_.push_back({base_ + s, FLAT_HEADER_SIZE, false});
        from = s + 1;
    }
    // Starts whose header words are not all here yet are looked at again.
    const uint64_t tail = SIGNATURE_OFFSET + SIGNATURE_SIZE - 1;
    searched_ = std::max(searched_, end_ > tail ? end_ - tail : 0);
    if (atEnd) searched_ = end_;
    size_t done = 0;
    while (done < pending_.size() && decide(pending_[done], atEnd)) ++done;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
}

namespace {

// What the header alone says of a candidate that is not inspected whole.
void readHeaderOnly(BlockCandidate &c, const uint8_t *bytes, uint64_t available) {
    if (available < FLAT_HEADER_SIZE) return;
    c.inspection.wholeHeader = true;
    c.inspection.otherByteOrder = bytes[offsetof(DrawingLayout, byteOrderMark)] != 0;
    c.inspection.formatVersion = c.inspection.otherByteOrder
                                     ? readSwappedRecord<uint32_t>(bytes, FLAT_HEADER_SIZE, 0)
                                     : readRecord<uint32_t>(bytes, 0);
}

}  // namespace

bool BlockCandidateFinder::decide(Pending &p, bool atEnd) {
    BlockCandidate c;
    c.offset = p.offset;
    const uint64_t available = end_ - p.offset;
    const uint8_t *bytes = at(p.offset);
    if (p.offset < drawingEnd_) {
        // Inside a drawing: told by its header alone, so that it never holds
        // up the search for what claims to be a large block.
        if (available < FLAT_HEADER_SIZE && !atEnd) return false;
        const BlockExtent header = measureBlock(bytes, std::min<uint64_t>(available, FLAT_HEADER_SIZE));
        c.verdict = CandidateVerdict::Overlapping;
        c.overlapsDrawingAt = drawingStart_;
        c.length = header.bytes;
        c.lengthKnown = header.known;
        c.heldBytes = std::min(available, header.bytes);
        readHeaderOnly(c, bytes, available);
        emit(c, bytes);
        return true;
    }
    // Measuring may take two rounds: the header tells where the stroke
    // table is, the stroke table where the samples are.
    while (!p.measured) {
        if (available < p.need || p.need > maxBlockBytes_) break;
        const BlockExtent extent = measureBlock(bytes, available);
        p.need = extent.bytes;
        p.measured = extent.known;
    }
    c.length = p.need;
    c.lengthKnown = p.measured;
    if (p.need > maxBlockBytes_) {
        c.verdict = CandidateVerdict::TooLarge;
        readHeaderOnly(c, bytes, available);
        emit(c, bytes);
        return true;
    }
    if (available < p.need) {
        if (!atEnd) return false;  // wait for the rest
        c.verdict = CandidateVerdict::Truncated;
        c.heldBytes = available;
        readHeaderOnly(c, bytes, available);
        emit(c, bytes);
        return true;
    }
    c.inspection = inspectBlock(bytes, p.need);
    c.heldBytes = p.need;
    if (c.inspection.status == ReadStatus::Read) {
        c.verdict = CandidateVerdict::Drawing;
        drawingStart_ = p.offset;
        drawingEnd_ = p.offset + p.need;
    } else {
        c.verdict = CandidateVerdict::Refused;
    }
    emit(c, bytes);
    return true;
}

void BlockCandidateFinder::emit(BlockCandidate &c, const uint8_t *bytes) {
    if (report_) report_(c, bytes);
}

void BlockCandidateFinder::drop() {
    uint64_t keep = searched_;
    if (!pending_.empty()) keep = std::min(keep, pending_.front().offset);
    const uint64_t unneeded = keep - base_;
    // Dropping costs a move of what is kept: only worth it once the dropped
    // part is at least as large.
    if (unneeded == 0 || unneeded < buffer_.size() - unneeded) return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(unneeded));
    base_ = keep;
}

}  // namespace pennaro
