#include "cli/scan/stream_inflater.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

namespace pennaro_cli {

namespace {

const char *describeFailure(int status) {
    switch (status) {
        case ISAL_INVALID_BLOCK: return "invalid deflate block";
        case ISAL_INVALID_SYMBOL: return "invalid code";
        case ISAL_INVALID_LOOKBACK: return "invalid distance too far back";
        case ISAL_INVALID_WRAPPER: return "incorrect header";
        case ISAL_UNSUPPORTED_METHOD: return "unknown compression method";
        case ISAL_INCORRECT_CHECKSUM: return "incorrect data check";
        case ISAL_NEED_DICT: return "needs a preset dictionary";
        default: return "not a valid stream";
    }
}

// gzip header flags: a checksum of the header, an extra field, a name, a
// comment; the three high bits are reserved (the scanner starts no member
// with one set).
constexpr uint8_t FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16, RESERVED = 0xE0;

}  // namespace

StreamInflater::StreamInflater(Wrapper wrapper) : state_(new inflate_state()) {
    // Cleared first (about 85 KiB, mostly tables and history): a damaged
    // stream can make ISA-L copy from history it never wrote, and those
    // bytes must be the same on every run, or the same file would list
    // differently from one scan to the next.
    isal_inflate_init(state_.get());
    state_->crc_flag = wrapper == Wrapper::Zlib   ? ISAL_ZLIB
                       : wrapper == Wrapper::Gzip ? ISAL_GZIP_NO_HDR_VER
                                                  : ISAL_DEFLATE;
    if (wrapper == Wrapper::Gzip) {
        header_ = Header::Fixed;
        headerLeft_ = sizeof held_;
    }
}

// Reads what there is of the header; returns the bytes taken. Sets problem_
// when the header is not one.
size_t StreamInflater::takeGzipHeader(const uint8_t *in, size_t size) {
    size_t used = 0;
    while (header_ != Header::Done && used < size) {
        const uint8_t *at = in + used;
        size_t take = std::min(size - used, headerLeft_);
        bool complete = take == headerLeft_;
        if (header_ == Header::Name || header_ == Header::Comment) {
            // Up to and with the zero that ends it.
            const uint8_t *zero = std::find(at, in + size, 0);
            complete = zero != in + size;
            take = static_cast<size_t>(zero - at) + complete;
        } else if (header_ != Header::Extra) {
            std::copy(at, at + take, held_ + heldSize_);
            heldSize_ += take;
        }
        if (header_ != Header::Check) headerCrc_ = static_cast<uint32_t>(crc32(headerCrc_, at, static_cast<uInt>(take)));
        used += take;
        headerLeft_ -= std::min(headerLeft_, take);
        if (!complete) continue;
        const uint16_t word = static_cast<uint16_t>(held_[0] | held_[1] << 8);
        Header next = Header::Done;
        switch (header_) {
            case Header::Fixed:
                flags_ = held_[3];
                if (held_[0] != 0x1F || held_[1] != 0x8B || held_[2] != 8 || (flags_ & RESERVED)) {
                    problem_ = "incorrect header";
                    return used;
                }
                if (flags_ & FEXTRA) {
                    next = Header::ExtraLength;
                    break;
                }
                [[fallthrough]];
            case Header::Extra:
                if (flags_ & FNAME) {
                    next = Header::Name;
                    break;
                }
                [[fallthrough]];
            case Header::Name:
                if (flags_ & FCOMMENT) {
                    next = Header::Comment;
                    break;
                }
                [[fallthrough]];
            case Header::Comment:
                if (flags_ & FHCRC) next = Header::Check;
                break;
            case Header::ExtraLength:
                next = Header::Extra;
                break;
            case Header::Check:
                if (word != (headerCrc_ & 0xFFFF)) {
                    problem_ = "header crc mismatch";
                    return used;
                }
                break;
            case Header::Done: break;
        }
        if (next == Header::Extra) headerLeft_ = word;
        if (next == Header::ExtraLength || next == Header::Check) headerLeft_ = 2;
        heldSize_ = 0;
        header_ = next;
    }
    return used;
}

StreamInflater::~StreamInflater() = default;

bool StreamInflater::firstBlockFails(const uint8_t *in, size_t size) {
    if (size == 0) return false;
    // Deflate's bits run from the low bit of each byte up.
    auto bits = [in](size_t at, unsigned count) {
        unsigned value = 0;
        for (unsigned k = 0; k < count; ++k, ++at) value |= ((in[at / 8] >> (at % 8)) & 1u) << k;
        return value;
    };
    switch (bits(1, 2)) {
        case 3: return true;   // reserved
        case 1: return false;  // fixed codes: any symbol may follow
        case 0: {
            // Stored: the length and its complement start at the next byte.
            if (size < 5) return false;
            const unsigned length = in[1] | in[2] << 8, complement = in[3] | in[4] << 8;
            return (length ^ complement) != 0xFFFF;
        }
        default: break;
    }
    if (size < 3) return false;
    const unsigned lengthCodes = bits(3, 5) + 257, distanceCodes = bits(8, 5) + 1, codeLengthCodes = bits(13, 4) + 4;
    if (lengthCodes > 286 || distanceCodes > 30) return true;
    if (size * 8 < 17 + codeLengthCodes * 3) return false;
    // The code-length code's lengths (1 to 7 bits) must not claim more than
    // the whole code space.
    unsigned claimed = 0;
    for (unsigned k = 0; k < codeLengthCodes; ++k) {
        const unsigned length = bits(17 + 3 * k, 3);
        if (length > 0) claimed += 128u >> length;
    }
    return claimed > 128;
}

uint64_t StreamInflater::reachedIn() const {
    const auto ahead = static_cast<uint64_t>(std::max<int32_t>(state_->read_in_length, 0) / 8);
    return totalIn_ - std::min(ahead, totalIn_);
}

StreamInflater::Step StreamInflater::run(const uint8_t *in, size_t inSize, uint8_t *out, size_t outSize) {
    Step step;
    if (done_) {
        step.status = *problem_ ? Status::Damaged : Status::End;
        return step;
    }
    constexpr size_t MOST = std::numeric_limits<uint32_t>::max();
    if (header_ != Header::Done) {
        step.consumed = takeGzipHeader(in, inSize);
        totalIn_ += step.consumed;
        in += step.consumed;
        inSize -= step.consumed;
        if (*problem_) {
            done_ = true;
            step.status = Status::Damaged;
            return step;
        }
        if (header_ != Header::Done) return step;
    }
    inflate_state &s = *state_;
    s.next_in = const_cast<uint8_t *>(in);
    s.avail_in = static_cast<uint32_t>(std::min(inSize, MOST));
    s.next_out = out;
    s.avail_out = static_cast<uint32_t>(std::min(outSize, MOST));
    const uint32_t inBefore = s.avail_in, outBefore = s.avail_out;
    const int status = isal_inflate(&s);
    step.consumed += inBefore - s.avail_in;
    step.produced = outBefore - s.avail_out;
    totalIn_ += inBefore - s.avail_in;
    totalOut_ += step.produced;
    if (status != ISAL_DECOMP_OK) {
        done_ = true;
        problem_ = describeFailure(status);
        step.status = Status::Damaged;
    } else if (s.block_state == ISAL_BLOCK_FINISH) {
        done_ = true;
        step.status = Status::End;
    }
    return step;
}

}  // namespace pennaro_cli
