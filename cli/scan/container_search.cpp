// The container's layout is never assumed. The file is read once, in order,
// through a window of bounded size, and searched for saved blocks
// (pennaro::BlockCandidateFinder) at every byte offset; alongside, every run
// of hex digits or base64 text long enough to hold a block is decoded, and
// every zlib stream, gzip member and deflated ZIP entry is inflated, and
// what comes out is searched the same way, a few levels deep. Inflating
// stops at a bound on the output, so a bomb is reported instead of
// followed. The byte classes behind the text runs and stream starts are
// worked out with the vector wrappers of simd/vectors.h.
#include "cli/scan/container_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "cli/core/errors.h"
#include "cli/core/memory_budget.h"
#include "cli/scan/stream_inflater.h"
#include "simd/processor.h"
#include "simd/vectors.h"

namespace pennaro_cli {

namespace {

using pennaro::BlockCandidate;
using pennaro::CandidateVerdict;

constexpr uint64_t SMALLEST_BLOCK = pennaro::FLAT_HEADER_SIZE;
// Encoded text shorter than this cannot hold a block, even compressed (a
// block without strokes deflates to a little over 20 bytes).
constexpr uint64_t SMALLEST_ENCODED = 24;
constexpr size_t OUTPUT_PIECE = 64 << 10;
constexpr uint64_t INFLATE_BUDGET_PER_BYTE = 64;

class Layer;

// What every layer of one scan shares.
struct Scan {
    const ScanSettings &settings;
    ScanResult &result;
    std::vector<std::vector<uint64_t>> blockStreams;  // per found block: the ids of its streams
    // Where each stream inflated lies in the stream around it (path), by id.
    struct Extent {
        std::vector<EncodingStep> path;
        uint64_t start = 0, end = 0;
    };
    std::map<uint64_t, Extent> extents;
    uint64_t nextStreamId = 1;
    uint64_t fileBytesRead = 0;
    bool budgetNoted = false;
    bool deepNoted = false;  // a stream nested deeper than the scan follows
    // Streams being inflated now, in every layer.
    int openStreams = 0;
    bool crowdNoted = false;
    // Output pieces, one per depth, for the inflaters and the text decoders
    // (a layer's decoders run one after another, so one piece each will do).
    std::vector<std::vector<uint8_t>> inflatePieces, textPieces;

    Scan(const ScanSettings &s, ScanResult &r) : settings(s), result(r) {
        inflatePieces.resize(static_cast<size_t>(s.maxDepth) + 2);
        textPieces.resize(static_cast<size_t>(s.maxDepth) + 2);
    }
    uint8_t *inflatePiece(int depth) { return piece(inflatePieces, depth); }
    uint8_t *textPiece(int depth) { return piece(textPieces, depth); }
    static uint8_t *piece(std::vector<std::vector<uint8_t>> &pieces, int depth) {
        auto &p = pieces[static_cast<size_t>(depth)];
        if (p.empty()) p.resize(OUTPUT_PIECE);
        return p.data();
    }
    uint64_t inflateBudget() const {
        return settings.inflateTotalFloor + INFLATE_BUDGET_PER_BYTE * fileBytesRead;
    }
    void note(const std::vector<EncodingStep> &path, std::string message) {
        result.notes.push_back({path, std::move(message)});
    }
    // The blocks found in stream `id` came out of a stream that is damaged.
    void markDamaged(uint64_t id, const std::string &why) {
        for (size_t i = 0; i < blockStreams.size(); ++i)
            if (std::find(blockStreams[i].begin(), blockStreams[i].end(), id) != blockStreams[i].end() &&
                result.blocks[i].damagedStream.empty())
                result.blocks[i].damagedStream = why;
    }
};

// ---------------------------------------------------------------- layers

class Inflater;
class TextRuns;
class Utf16Text;

// One bit per byte of a piece that may belong to a run of hex digits, and
// one that may belong to base64 text: a digit of the encoding or a blank (a
// few more blanks than runs take, which only costs a closer look). Exact per
// kind, so that base64 text is passed over quickly by the search for hex
// runs. Worked out once per piece for both searches, which then look at the
// bits only: in binary data they rarely find more than that no run is there.
class RunMasks {
public:
    void compute(const uint8_t *d, size_t n);
    // skipShortRuns(*this, 0, n, base64, found), worked out for both kinds at once.
    size_t skipFromStart(bool base64, size_t n, bool &found) const;
    // The bits of d[i, i + 64), i + 64 <= n.
    uint64_t at(size_t i, bool base64) const {
        const uint64_t *m = base64 ? base64_.data() : hex_.data();
        const size_t w = i >> 6, shift = i & 63;
        return shift == 0 ? m[w] : (m[w] >> shift) | (m[w + 1] << (64 - shift));
    }

private:
    std::vector<uint64_t> hex_, base64_;
    std::vector<uint64_t> streams_;  // bit i: a stream may start at byte i
    // What skipShortRuns gives from the start of the piece, for both kinds.
    bool noMembers_ = false;  // the piece holds no hex or base64 character, nor blank
    bool alternating_ = false;  // a whole word holds them at every other byte only
    mutable bool skipKnown_ = false, base64Found_ = false;
    mutable size_t base64Skip_ = 0, hexSkip_ = 0;

    friend class Layer;
};

// One stream of bytes being searched: the file itself, or what a decoding
// of part of it gave.
class Layer {
public:
    Layer(Scan &scan, std::vector<EncodingStep> path, std::vector<uint64_t> streams, int depth);
    ~Layer();
    void feed(const uint8_t *data, size_t size);
    void finish();

    Scan &scan() { return scan_; }
    int depth() const { return depth_; }
    const std::vector<EncodingStep> &path() const { return path_; }
    const std::vector<uint64_t> &streams() const { return streams_; }
    uint64_t peakHeld() const { return blocks_.peakHeld(); }
    const RunMasks &runMasks() const { return runMasks_; }

private:
    void onBlock(const BlockCandidate &c, const uint8_t *bytes);
    void findStreams(const uint8_t *data, size_t size, size_t from, size_t limit, uint64_t at, size_t tailBytes,
                     const uint8_t *chunk, size_t chunkSize);
    void startStream(const uint8_t *data, size_t size, size_t i, uint64_t at, size_t tailBytes,
                     const uint8_t *chunk, size_t chunkSize);
    void findUtf16(const uint8_t *data, size_t size);
    void noteTooDeep(const uint8_t *data, size_t size);

    Scan &scan_;
    std::vector<EncodingStep> path_;
    std::vector<uint64_t> streams_;
    int depth_;
    pennaro::BlockCandidateFinder blocks_;
    uint64_t position_ = 0;  // of the next byte fed
    std::vector<std::unique_ptr<Inflater>> inflaters_;
    std::unique_ptr<TextRuns> hex_, base64_;
    RunMasks runMasks_;
    uint8_t tail_[3] = {};
    size_t tailSize_ = 0;
    std::unique_ptr<Utf16Text> utf16_;
    // The end of the last piece when it was text in UTF-16 (a text found in
    // this piece may have begun there), and where it began.
    std::vector<uint8_t> utf16Tail_;
    uint64_t utf16TailAt_ = 0;
};

// ---------------------------------------------------------------- inflating

enum class StreamKind { Zlib, Gzip, Zip };

const char *streamName(StreamKind kind) {
    switch (kind) {
        case StreamKind::Zlib: return "zlib";
        case StreamKind::Gzip: return "gzip";
        case StreamKind::Zip: return "zip";
    }
    return "zlib";
}

// ZIP local file header: signature, versions and flags, method at 8, the
// name's length at 26, the extra field's at 28, the name at 30.
constexpr size_t ZIP_HEADER = 30;
constexpr uint16_t ZIP_DEFLATED = 8;

uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

class Inflater {
public:
    Inflater(Layer &parent, StreamKind kind, uint64_t start) : parent_(parent), kind_(kind), start_(start) {
        ++parent.scan().result.streamsTried;
        ++parent.scan().openStreams;
        if (kind != StreamKind::Zip) begin();
    }
    ~Inflater() { close(); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool live() const { return live_; }

    // False once the stream has ended, failed or been given up.
    bool feed(const uint8_t *data, size_t size) {
        if (!live_) return false;
        if (kind_ == StreamKind::Zip && !inflater_) {
            const size_t used = zipHeader(data, size);
            data += used;
            size -= used;
            if (!live_ || !inflater_) return live_;
        }
        uint8_t *piece = parent_.scan().inflatePiece(parent_.depth());
        while (live_) {
            const StreamInflater::Step step = inflater_->run(data, size, piece, OUTPUT_PIECE);
            data += step.consumed;
            size -= step.consumed;
            if (step.produced > 0 && !deliver(piece, step.produced)) return false;
            if (step.status == StreamInflater::Status::End) {
                end("");
                return false;
            }
            if (step.status == StreamInflater::Status::Damaged) {
                end(inflater_->problem());
                return false;
            }
            // Everything taken and room to spare: the rest needs more input.
            if (size == 0 && step.produced < OUTPUT_PIECE) break;
            if (step.consumed == 0 && step.produced == 0) break;
        }
        return live_;
    }

    // The stream around it ended first: what came out is kept (a file cut
    // short still holds the drawings before the cut), and said.
    void finish() {
        if (!live_) return;
        if (inflater_ && inflater_->totalOut() >= SMALLEST_BLOCK)
            parent_.scan().note(childPath(), "cut off after " + std::to_string(inflater_->totalOut()) +
                                                 " bytes: the data ends before the stream does");
        end("");
    }

private:
    void begin() {
        inflater_ = std::make_unique<StreamInflater>(kind_ == StreamKind::Zlib   ? StreamInflater::Wrapper::Zlib
                                                     : kind_ == StreamKind::Gzip ? StreamInflater::Wrapper::Gzip
                                                                                 : StreamInflater::Wrapper::Raw);
    }

    // Takes the local header's bytes; the data that follows is inflated.
    size_t zipHeader(const uint8_t *data, size_t size) {
        size_t used = 0;
        while (used < size && !inflater_) {
            if (header_.size() < ZIP_HEADER) {
                header_.push_back(data[used++]);
                if (header_.size() == ZIP_HEADER) {
                    const uint16_t flags = le16(&header_[6]);
                    // Encrypted or not deflated: nothing to inflate (a
                    // stored entry's bytes are searched where they stand).
                    if ((flags & 1) || le16(&header_[8]) != ZIP_DEFLATED) {
                        close();
                        return size;
                    }
                    nameLength_ = le16(&header_[26]);
                    skip_ = nameLength_ + le16(&header_[28]);
                }
                continue;
            }
            const size_t take = std::min<size_t>(size - used, skip_);
            if (entry_.size() < nameLength_)
                entry_.append(reinterpret_cast<const char *>(data + used),
                              std::min<size_t>(take, nameLength_ - entry_.size()));
            used += take;
            skip_ -= take;
            if (skip_ == 0) {
                headerBytes_ = ZIP_HEADER + nameLength_ + (header_.empty() ? 0 : le16(&header_[28]));
                begin();
            }
        }
        return used;
    }

    bool deliver(const uint8_t *bytes, size_t size) {
        Scan &scan = parent_.scan();
        const uint64_t made = inflater_->totalOut(), taken = inflater_->totalIn();
        const uint64_t limit = std::max(scan.settings.inflateFloor, scan.settings.inflateRatio * taken);
        if (made > limit) {
            scan.note(childPath(), "stopped after " + std::to_string(made) + " bytes from " +
                                       std::to_string(taken) + " compressed: more than " +
                                       std::to_string(scan.settings.inflateRatio) +
                                       " times its size (a compression bomb?); the rest is not searched");
            end("");
            return false;
        }
        if (scan.result.inflatedBytes + size > scan.inflateBudget()) {
            if (!scan.budgetNoted)
                scan.note(childPath(), "stopped: the scan has inflated " + std::to_string(scan.result.inflatedBytes) +
                                           " bytes, its limit for this file; later streams are not searched");
            scan.budgetNoted = true;
            end("");
            return false;
        }
        scan.result.inflatedBytes += size;
        if (!child_) {
            id_ = scan.nextStreamId++;
            std::vector<uint64_t> streams = parent_.streams();
            streams.push_back(id_);
            child_ = std::make_unique<Layer>(scan, childPath(), std::move(streams), parent_.depth() + 1);
        }
        child_->feed(bytes, size);
        return true;
    }

    void close() {
        if (live_) --parent_.scan().openStreams;
        live_ = false;
    }

    std::vector<EncodingStep> childPath() const {
        std::vector<EncodingStep> path = parent_.path();
        path.push_back({streamName(kind_), start_, entry_});
        return path;
    }

    // Ends the stream; `failure` is empty when it ended well.
    void end(const std::string &failure) {
        close();
        if (!child_) return;
        parent_.scan().extents[id_] = {parent_.path(), start_, start_ + headerBytes_ + inflater_->reachedIn()};
        child_->finish();
        parent_.scan().result.peakWindowBytes =
            std::max(parent_.scan().result.peakWindowBytes, child_->peakHeld());
        if (!failure.empty())
            parent_.scan().markDamaged(id_, std::string(streamName(kind_)) + " stream at byte " +
                                                std::to_string(start_) + " is damaged after " +
                                                std::to_string(inflater_->totalOut()) + " bytes: " + failure);
        child_.reset();
    }

    Layer &parent_;
    StreamKind kind_;
    uint64_t start_;
    std::unique_ptr<StreamInflater> inflater_;  // once the stream's data begins
    bool live_ = true;
    std::vector<uint8_t> header_;
    size_t skip_ = 0, nameLength_ = 0;
    uint64_t headerBytes_ = 0;  // a ZIP entry's local header, before its data
    std::string entry_;
    uint64_t id_ = 0;
    std::unique_ptr<Layer> child_;
};

// Whether a stream may start with these four bytes.
bool streamStartsWith(const uint8_t *p, StreamKind &kind) {
    if (p[0] == 0x78 && (p[1] == 0x01 || p[1] == 0x5E || p[1] == 0x9C || p[1] == 0xDA)) {
        kind = StreamKind::Zlib;
        return ((p[2] >> 1) & 3) != 3;  // the first deflate block's type is a valid one
    }
    if (p[0] == 0x1F && p[1] == 0x8B && p[2] == 8 && (p[3] & 0xE0) == 0) {
        kind = StreamKind::Gzip;
        return true;
    }
    if (p[0] == 'P' && p[1] == 'K' && p[2] == 3 && p[3] == 4) {
        kind = StreamKind::Zip;
        return true;
    }
    return false;
}

#if PENNARO_HAVE_SSE2
using pennaro::simd::V128;

// The lanes where a stream may start, by its first two bytes: a holds the
// bytes, b the bytes after them. zlib: 0x78 then 0x01, 0x5E, 0x9C or 0xDA;
// gzip: 0x1F 0x8B; ZIP: "PK".
inline V128::I streamStartLanes(V128::I a, V128::I b) {
    using V = V128;
    auto is = [](V::I v, uint8_t byte) { return V::cmpeq8(v, V::set8(byte)); };
    const V::I zlibSecond = V::or_(V::or_(is(b, 0x01), is(b, 0x5E)), V::or_(is(b, 0x9C), is(b, 0xDA)));
    return V::or_(V::and_(is(a, 0x78), zlibSecond), V::or_(V::and_(is(a, 0x1F), is(b, 0x8B)), V::and_(is(a, 'P'), is(b, 'K'))));
}
#endif

// The first place in [from, limit) where a stream may start; `limit` when
// none. Four bytes from each place must be readable.
size_t findStreamStart(const uint8_t *p, size_t from, size_t limit) {
    size_t i = from;
#if PENNARO_HAVE_SSE2
    for (; i + 17 <= limit; i += 16)
        if (const uint32_t mask = V128::byteMask(streamStartLanes(V128::load(p + i), V128::load(p + i + 1))))
            return i + static_cast<size_t>(__builtin_ctz(mask));
#endif
    for (; i < limit; ++i)
        if ((p[i] == 0x78 || p[i] == 0x1F || p[i] == 'P')) {
            StreamKind kind;
            if (streamStartsWith(p + i, kind)) return i;
        }
    return limit;
}

// ---------------------------------------------------------------- text runs

enum CharClass : uint8_t { OTHER = 0, BLANK = 1, HEX = 2, BASE64 = 4 };

struct CharTable {
    uint8_t cls[256] = {};
    int8_t hexValue[256], base64Value[256];
    CharTable() {
        std::memset(hexValue, -1, sizeof hexValue);
        std::memset(base64Value, -1, sizeof base64Value);
        for (const char c : std::string(" \t\n\v\f\r")) cls[static_cast<uint8_t>(c)] = BLANK;
        const std::string b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (size_t i = 0; i < b64.size(); ++i) {
            cls[static_cast<uint8_t>(b64[i])] |= BASE64;
            base64Value[static_cast<uint8_t>(b64[i])] = static_cast<int8_t>(i);
        }
        // base64url writes - and _ where base64 writes + and /; the two
        // alphabets share the rest, so one table decodes both.
        cls[static_cast<uint8_t>('-')] |= BASE64;
        cls[static_cast<uint8_t>('_')] |= BASE64;
        base64Value[static_cast<uint8_t>('-')] = 62;
        base64Value[static_cast<uint8_t>('_')] = 63;
        for (int i = 0; i < 16; ++i) {
            const char lower = "0123456789abcdef"[i], upper = "0123456789ABCDEF"[i];
            cls[static_cast<uint8_t>(lower)] |= HEX;
            cls[static_cast<uint8_t>(upper)] |= HEX;
            hexValue[static_cast<uint8_t>(lower)] = hexValue[static_cast<uint8_t>(upper)] = static_cast<int8_t>(i);
        }
    }
};
const CharTable CHARS;

// A word of text characters at every other byte: perhaps text in UTF-16.
constexpr uint64_t EVEN_BYTES = 0x5555555555555555, ODD_BYTES = ~EVEN_BYTES;

#if PENNARO_HAVE_SSE2
// The masks of 64-byte words [0, words) of d; d[64 * words] must be
// readable (the second byte of a stream start). Returns the base64 masks
// ORed together; `alternating` is set when a word's base64 mask is
// EVEN_BYTES or ODD_BYTES.
uint64_t runMasksSse2(const uint8_t *d, size_t words, uint64_t *hex, uint64_t *base64, uint64_t *streams,
                      bool &alternating) {
    using V = V128;
    uint64_t anyBase64 = 0;
    bool alternates = false;
    const V::I caseBit = V::set8(0x20), plus = V::set8('+'), slash = V::set8('/'), minus = V::set8('-'),
               underscore = V::set8('_');
    for (size_t w = 0; w < words; ++w) {
        uint64_t h = 0, b = 0, s = 0;
        for (int k = 0; k < 4; ++k) {
            const uint8_t *p = d + 64 * w + 16 * k;
            const V::I c = V::load(p), next = V::load(p + 1);
            // Setting bit 5 turns upper-case letters into lower-case ones
            // and no other byte into a letter.
            const V::I lower = V::or_(c, caseBit);
            const V::I both = V::or_(V::inRange8(c, '0', '9'), V::or_(V::inRange8(c, '\t', '\r'), V::cmpeq8(c, caseBit)));
            const V::I isHex = V::or_(both, V::inRange8(lower, 'a', 'f'));
            const V::I signs = V::or_(V::or_(V::cmpeq8(c, plus), V::cmpeq8(c, slash)),
                                      V::or_(V::cmpeq8(c, minus), V::cmpeq8(c, underscore)));
            const V::I isBase64 = V::or_(both, V::or_(V::inRange8(lower, 'a', 'z'), signs));
            h |= uint64_t{V::byteMask(isHex)} << (16 * k);
            b |= uint64_t{V::byteMask(isBase64)} << (16 * k);
            s |= uint64_t{V::byteMask(streamStartLanes(c, next))} << (16 * k);
        }
        hex[w] = h, base64[w] = b, streams[w] = s;
        anyBase64 |= b;
        alternates |= (b == EVEN_BYTES) | (b == ODD_BYTES);
    }
    alternating = alternates;
    return anyBase64;
}

#if PENNARO_HAVE_AVX2
PENNARO_AVX2_BEGIN
// The same, 32 bytes at a time, where the processor has AVX2. Each byte's
// classes come from two table look-ups, by its high and its low half: each
// class bit is a set of high halves times a set of low halves.
uint64_t runMasksAvx2(const uint8_t *d, size_t words, uint64_t *hex, uint64_t *base64, uint64_t *streams,
                      bool &alternating) {
    using V = pennaro::simd::V256;
    uint64_t anyBase64 = 0;
    bool alternates = false;
    enum : uint8_t {
        DIGIT = 1, CONTROL = 2, SPACE = 4, SIGN = 8, HEX_LETTER = 16, LETTER_A_O = 32, LETTER_P_Z = 64, UNDERSCORE = 128
    };
    constexpr uint8_t T = CONTROL, D = DIGIT, H = HEX_LETTER, L = LETTER_A_O, U = LETTER_P_Z;
    // By high half: \t-\r; space, +, - and /; digits; A-O, a-o (hex letters among them); P-Z and _, p-z.
    alignas(16) static constexpr uint8_t high[16] = {T, 0, SPACE | SIGN, D, H | L, U | UNDERSCORE, H | L, U,
                                                     0, 0, 0, 0, 0, 0, 0, 0};
    // By low half: 0 is a digit, space, P or p; 1-6 digits, hex letters, letters; ...
    alignas(16) static constexpr uint8_t low[16] = {
        D | SPACE | U, D | H | L | U, D | H | L | U, D | H | L | U, D | H | L | U,    D | H | L | U, D | H | L | U, D | L | U,
        D | L | U,     D | T | L | U, T | L | U,     T | SIGN | L,  T | L,            T | SIGN | L,  L,   SIGN | L | UNDERSCORE};
    const V::I highTable = V::broadcast(V::Half::load(high)), lowTable = V::broadcast(V::Half::load(low));
    const V::I nibble = V::set8(0x0F), zero = V::zero();
    const V::I hexClasses = V::set8(DIGIT | CONTROL | SPACE | HEX_LETTER);
    const V::I base64Classes = V::set8(DIGIT | CONTROL | SPACE | SIGN | LETTER_A_O | LETTER_P_Z | UNDERSCORE);
    for (size_t w = 0; w < words; ++w) {
        uint64_t h = 0, b = 0, s = 0;
        for (int k = 0; k < 2; ++k) {
            const uint8_t *p = d + 64 * w + 32 * k;
            const V::I c = V::load(p);
            const V::I classes = V::and_(V::lookup16(highTable, V::and_(V::shr16(c, 4), nibble)),
                                         V::lookup16(lowTable, V::and_(c, nibble)));
            const uint32_t notHex = V::byteMask(V::cmpeq8(V::and_(classes, hexClasses), zero));
            const uint32_t notBase64 = V::byteMask(V::cmpeq8(V::and_(classes, base64Classes), zero));
            h |= uint64_t{~notHex} << (32 * k);
            b |= uint64_t{~notBase64} << (32 * k);
            // Stream starts: the first byte is rare, so the second is
            // looked at only when one is there.
            const V::I x78 = V::cmpeq8(c, V::set8(0x78)), x1f = V::cmpeq8(c, V::set8(0x1F)), xP = V::cmpeq8(c, V::set8('P'));
            if (!V::any(V::or_(x78, V::or_(x1f, xP)))) continue;
            const V::I next = V::load(p + 1);
            auto is = [&](uint8_t byte) { return V::cmpeq8(next, V::set8(byte)); };
            const V::I zlibSecond = V::or_(V::or_(is(0x01), is(0x5E)), V::or_(is(0x9C), is(0xDA)));
            const V::I start = V::or_(V::and_(x78, zlibSecond), V::or_(V::and_(x1f, is(0x8B)), V::and_(xP, is('K'))));
            s |= uint64_t{V::byteMask(start)} << (32 * k);
        }
        hex[w] = h, base64[w] = b, streams[w] = s;
        anyBase64 |= b;
        alternates |= (b == EVEN_BYTES) | (b == ODD_BYTES);
    }
    alternating = alternates;
    return anyBase64;
}
PENNARO_AVX2_END
#endif

void RunMasks::compute(const uint8_t *d, size_t n) {
    // Whole words whose stream starts can be told (the byte after each is
    // there); the bytes after them are left to the byte-wise tests.
    const size_t words = n > 0 ? (n - 1) / 64 : 0;
    skipKnown_ = false;
    hex_.resize(words + 1);
    base64_.resize(words + 1);
    streams_.resize(words);
#if PENNARO_HAVE_AVX2
    const bool avx2 = pennaro::simd::processorHasAvx2();
    const uint64_t anyBase64 =
        avx2 ? runMasksAvx2(d, words, hex_.data(), base64_.data(), streams_.data(), alternating_)
             : runMasksSse2(d, words, hex_.data(), base64_.data(), streams_.data(), alternating_);
#else
    const uint64_t anyBase64 = runMasksSse2(d, words, hex_.data(), base64_.data(), streams_.data(), alternating_);
#endif
    uint64_t hex = 0, base64 = 0;
    for (size_t j = words * 64; j < n; ++j) {
        const uint64_t bit = uint64_t{1} << (j & 63);
        hex |= (CHARS.cls[d[j]] & (HEX | BLANK)) ? bit : 0;
        base64 |= (CHARS.cls[d[j]] & (BASE64 | BLANK)) ? bit : 0;
    }
    hex_[words] = hex;
    base64_[words] = base64;
    noMembers_ = (anyBase64 | base64) == 0;
}
#endif

// Where in the piece, from `from` to `n`, a closer look is needed for a run of at least
// SMALLEST_ENCODED members: the place of the first such run (`found`), or
// where the last bytes begin (fewer than 64, from the start of a run they
// may continue), which are left to the caller. Runs of members in binary
// data are short, so this is where most bytes are passed over.
size_t skipShortRuns(const RunMasks &masks, size_t from, size_t n, bool base64, bool &found) {
    found = false;
    size_t i = from;
#if PENNARO_HAVE_SSE2
    uint64_t carry = 0;  // members ending the window before
    for (; i + 64 <= n; i += 64) {
        const uint64_t m = masks.at(i, base64);
        if (m == 0) {  // most words of binary data
            carry = 0;
            continue;
        }
        const uint64_t lead = m == ~uint64_t{0} ? 64 : static_cast<uint64_t>(__builtin_ctzll(~m));
        if (carry + lead >= SMALLEST_ENCODED) {
            found = true;
            return i - carry;
        }
        // Bit k stays set when bits k .. k+23 all were.
        uint64_t r = m;
        r &= r >> 1;
        r &= r >> 2;
        r &= r >> 4;
        r &= r >> 8;
        r &= r >> 8;
        if (r) {
            found = true;
            return i + static_cast<size_t>(__builtin_ctzll(r));
        }
        carry = static_cast<uint64_t>(__builtin_clzll(~m));
    }
    return i - carry;
#else
    (void)masks, (void)n, (void)base64;
    return i;
#endif
}

size_t RunMasks::skipFromStart(bool base64, size_t n, bool &found) const {
#if !PENNARO_HAVE_SSE2
    return skipShortRuns(*this, 0, n, base64, found);
#endif
    if (!skipKnown_ && noMembers_) {
        // Not a single character of either: both searches go to the end.
        skipKnown_ = true;
        base64Found_ = false;
        base64Skip_ = hexSkip_ = n / 64 * 64;
    }
    if (!skipKnown_) {
        skipKnown_ = true;
        base64Skip_ = skipShortRuns(*this, 0, n, true, base64Found_);
        // Hex digits and blanks are base64 members too: without a base64
        // run there is no hex run, and the hex search stops where the
        // last hex digits begin.
        if (!base64Found_) {
            const size_t end = n / 64 * 64;
            const uint64_t last = end > 0 ? at(end - 64, false) : 0;
            hexSkip_ = end - (last == ~uint64_t{0} ? 64 : static_cast<size_t>(__builtin_clzll(~last)));
        }
    }
    if (base64 || base64Found_) {
        if (!base64) return skipShortRuns(*this, 0, n, false, found);
        found = base64Found_;
        return base64Skip_;
    }
    found = false;
    return hexSkip_;
}

// Runs of hex digits or of base64 text, blanks (spaces, tabs, line breaks)
// allowed inside, long enough to hold a compressed block: each is decoded from every
// place its encoding may have begun (2 for hex, 4 for base64, since the run
// may start with a stray character or two of the text around it), and
// every decoding is searched as a stream of its own.
class TextRuns {
public:
    TextRuns(Layer &parent, bool base64)
        : parent_(parent),
          base64_(base64),
          member_(base64 ? BASE64 | BLANK : HEX | BLANK),
          digit_(base64 ? BASE64 : HEX),
          phases_(base64 ? 4 : 2),
          // Digits needed for the smallest compressed stream that can hold a block.
          threshold_(base64 ? (SMALLEST_ENCODED * 4 + 2) / 3 : SMALLEST_ENCODED * 2) {}

    void feed(const uint8_t *d, size_t n, uint64_t at) {
        size_t i = 0;
        if (!pending_.empty()) i = finishEscape(d, n);
        while (i < n) {
            if (!inRun_) {
                if (i + 64 <= n) {
                    bool found = false;
                    const size_t next = i == 0 ? parent_.runMasks().skipFromStart(base64_, n, found)
                                               : skipShortRuns(parent_.runMasks(), i, n, base64_, found);
                    if (found) {
                        // d[i - 1], when there is one, ended a run or was
                        // passed over: the run starts at i at the earliest.
                        size_t start = next;
                        while (start > i && (CHARS.cls[d[start - 1]] & member_)) --start;
                        i = start;
                        startRun();
                        goto inRun;
                    }
                    i = next;
                    if (i >= n) break;
                }
                // No run of `threshold_` characters can hold a character
                // that is not a member: jump whole lengths while the last
                // character of one is none.
                if (i + threshold_ <= n) {
                    const size_t last = i + threshold_ - 1;
                    if (!(CHARS.cls[d[last]] & member_)) {
                        i = last + 1;
                        continue;
                    }
                    size_t start = last, end = last + 1;
                    while (start > i && (CHARS.cls[d[start - 1]] & member_)) --start;
                    while (end < n && end - start < threshold_ && (CHARS.cls[d[end]] & member_)) ++end;
                    if (end - start < threshold_ && end < n) {
                        i = end + 1;  // too short, and d[end] ends it
                        continue;
                    }
                    i = start;
                } else if (!(CHARS.cls[d[i]] & member_)) {
                    ++i;
                    continue;
                }
                startRun();
            }
        inRun:
            const size_t segment = i;
            i = runEnd(d, i, n);
            take(d + segment, i - segment, at + segment);
            if (i < n) {
                const Escape e = escapeAt(d + i, n - i);
                if (e.length == 0 && !e.none && n - i < MAX_ESCAPE) {
                    // Perhaps an escape the next piece completes.
                    pending_.assign(d + i, d + n);
                    pendingAt_ = at + i;
                    break;
                }
                i += continueThrough(e, at + i);
            }
        }
    }
    void finish() {
        pending_.clear();
        endRun();
    }

    // The end of the run of members from i on.
    size_t runEnd(const uint8_t *d, size_t i, size_t n) const {
#if PENNARO_HAVE_SSE2
        for (; i + 64 <= n; i += 64)
            if (const uint64_t m = parent_.runMasks().at(i, base64_); m != ~uint64_t{0})
                return i + static_cast<size_t>(__builtin_ctzll(~m));
#endif
        while (i < n && (CHARS.cls[d[i]] & member_)) ++i;
        return i;
    }

private:
    // Text formats write some characters of a run as escapes: JSON strings
    // their line breaks and tabs (\n, \r, \t), maybe the slash (\/) and
    // anything as \uXXXX; XML and HTML line breaks inside an element as
    // character references (&#10;, &#xA;, &#13;). An escape for a blank or
    // a digit continues the run the character would have continued.
    static constexpr size_t MAX_ESCAPE = 10;  // "&#x0000A;" and a little more
    struct Escape {
        size_t length = 0;  // 0: none here, or not complete in the bytes given
        bool none = false;  // certainly no escape that continues the run
        uint8_t digit = 0;  // the digit it stands for; 0 for a blank
    };

    Escape escapeAt(const uint8_t *p, size_t avail) const {
        Escape e;
        auto value = [&](uint32_t code, size_t length) {
            const uint8_t cls = code < 0x80 ? CHARS.cls[code] : 0;
            if (cls & BLANK) e.length = length;
            else if (cls & digit_) e.length = length, e.digit = static_cast<uint8_t>(code);
            else e.none = true;
            return e;
        };
        if (avail < 2) return e;
        if (p[0] == '\\') {
            switch (p[1]) {
                case 'n': case 'r': case 't': return value(' ', 2);
                case '/': return value('/', 2);
                case 'u': {
                    if (avail < 6) return e;
                    uint32_t code = 0;
                    for (size_t k = 2; k < 6; ++k) {
                        if (CHARS.hexValue[p[k]] < 0) return e.none = true, e;
                        code = code << 4 | static_cast<uint32_t>(CHARS.hexValue[p[k]]);
                    }
                    return value(code, 6);
                }
                default: return e.none = true, e;
            }
        }
        if (p[0] != '&' || p[1] != '#') return e.none = true, e;
        const bool hexRef = avail > 2 && (p[2] == 'x' || p[2] == 'X');
        uint32_t code = 0;
        size_t k = hexRef ? 3 : 2;
        for (; k < avail && k < MAX_ESCAPE; ++k) {
            const int v = hexRef ? CHARS.hexValue[p[k]] : (p[k] >= '0' && p[k] <= '9' ? p[k] - '0' : -1);
            if (v < 0) break;
            code = code * (hexRef ? 16 : 10) + static_cast<uint32_t>(v);
        }
        if (k == avail && k < MAX_ESCAPE) return e;  // the reference goes on in the next piece
        if (k >= MAX_ESCAPE || p[k] != ';' || k == (hexRef ? 3u : 2u)) return e.none = true, e;
        return value(code, k + 1);
    }

    // After the run's last member, at stream position `at`: steps over an
    // escape that continues the run (giving its digit to the run), or ends
    // the run at the byte. Returns the bytes passed.
    size_t continueThrough(const Escape &e, uint64_t at) {
        if (e.length == 0) {
            endRun();
            return 1;
        }
        if (e.digit) take(&e.digit, 1, at);
        return e.length;
    }

    // The bytes held from the end of the last piece, with those of this one
    // (d, n), make an escape or not: returns where in d the search goes on.
    size_t finishEscape(const uint8_t *d, size_t n) {
        const size_t held = pending_.size();
        pending_.insert(pending_.end(), d, d + std::min(n, MAX_ESCAPE - held));
        const Escape e = escapeAt(pending_.data(), pending_.size());
        const uint64_t at = pendingAt_;
        if (e.length == 0 && !e.none && pending_.size() < MAX_ESCAPE) return n;  // still not complete
        pending_.clear();
        if (e.length == 0) {
            // Not an escape: the run ended at its first byte, and the search
            // goes on from the byte after it (a byte or two held may be
            // passed over).
            endRun();
            return 0;
        }
        continueThrough(e, at);
        return e.length - held;
    }

    struct Phase {
        uint64_t start = 0;  // of its first digit
        uint8_t group[4] = {};  // digits not yet making a whole group
        size_t held = 0;
        std::unique_ptr<Layer> layer;
    };

    void startRun() {
        inRun_ = true;
        ignore_ = false;
        nonHex_ = false;
        prefix_.clear();
        starts_.clear();
    }

    void take(const uint8_t *d, size_t n, uint64_t at) {
        if (ignore_ || n == 0) return;
        if (!live_.empty()) {
            // Decoding already: keep the digits, drop the blanks.
            compact_.resize(n);
            char *out = compact_.data();
            size_t m = 0, k = 0;
#if PENNARO_HAVE_SSE2
            // Blanks are few (line breaks): whole stretches without one are
            // copied as they are.
            for (; k + 16 <= n; k += 16) {
                const V128::I c = V128::load(d + k);
                if (!V128::any(V128::or_(V128::inRange8(c, '\t', '\r'), V128::cmpeq8(c, V128::set8(' '))))) {
                    std::memcpy(out + m, d + k, 16);
                    m += 16;
                    continue;
                }
                for (size_t j = k; j < k + 16; ++j) {
                    out[m] = static_cast<char>(d[j]);
                    m += (CHARS.cls[d[j]] & digit_) != 0;
                }
            }
#endif
            for (; k < n; ++k) {
                out[m] = static_cast<char>(d[k]);
                m += (CHARS.cls[d[k]] & digit_) != 0;
            }
            compact_.resize(m);
            decode(compact_);
            return;
        }
        compact_.clear();
        for (size_t k = 0; k < n; ++k) {
            if (!(CHARS.cls[d[k]] & digit_)) continue;
            if (live_.empty()) {
                if (starts_.size() < phases_) starts_.push_back(at + k);
                if (!(CHARS.cls[d[k]] & HEX)) nonHex_ = true;
                prefix_.push_back(d[k]);
                if (prefix_.size() < threshold_) continue;
                // Text of hex digits alone is a hex run, not base64.
                if (base64_ && !nonHex_) {
                    ignore_ = true;
                    return;
                }
                if (parent_.depth() >= parent_.scan().settings.maxDepth) {
                    parent_.scan().note(parent_.path(), std::string(base64_ ? "base64" : "hex") + " run at byte " +
                                                           std::to_string(starts_[0]) +
                                                           " is nested too deep to be decoded");
                    ignore_ = true;
                    return;
                }
                begin();
                decode(prefix_);
                prefix_.clear();
                continue;
            }
            compact_.push_back(d[k]);
        }
        if (!compact_.empty()) decode(compact_);
    }

    void begin() {
        Scan &scan = parent_.scan();
        for (size_t p = 0; p < phases_; ++p) {
            auto phase = std::make_unique<Phase>();
            phase->start = starts_[p];
            std::vector<EncodingStep> path = parent_.path();
            path.push_back({base64_ ? "base64" : "hex", phase->start, ""});
            phase->layer = std::make_unique<Layer>(scan, std::move(path), parent_.streams(), parent_.depth() + 1);
            // A phase starting at digit p skips the digits before it.
            skip_[p] = p;
            live_.push_back(std::move(phase));
        }
    }

    // Every phase decodes whole groups of digits (4 base64 digits to 3
    // bytes, 2 hex digits to 1), keeping a part group for the next call.
    void decode(const std::string &digits) {
        uint8_t *piece = parent_.scan().textPiece(parent_.depth());
        const auto *text = reinterpret_cast<const uint8_t *>(digits.data());
        const size_t n = digits.size(), group = base64_ ? 4 : 2;
        const int8_t *b64 = CHARS.base64Value, *hx = CHARS.hexValue;
        for (size_t p = 0; p < live_.size(); ++p) {
            Phase &phase = *live_[p];
            size_t k = std::min(skip_[p], n);
            skip_[p] -= k;
            size_t made = 0;
            auto flush = [&] {
                if (made) phase.layer->feed(piece, made);
                made = 0;
            };
            auto emit = [&](const uint8_t *g) {
                if (base64_) {
                    const uint32_t v = uint32_t(b64[g[0]]) << 18 | uint32_t(b64[g[1]]) << 12 |
                                       uint32_t(b64[g[2]]) << 6 | uint32_t(b64[g[3]]);
                    piece[made] = static_cast<uint8_t>(v >> 16);
                    piece[made + 1] = static_cast<uint8_t>(v >> 8);
                    piece[made + 2] = static_cast<uint8_t>(v);
                    made += 3;
                } else {
                    piece[made++] = static_cast<uint8_t>(hx[g[0]] << 4 | hx[g[1]]);
                }
                if (made + 3 > OUTPUT_PIECE) flush();
            };
            while (phase.held > 0 && phase.held < group && k < n) phase.group[phase.held++] = text[k++];
            if (phase.held == group) {
                emit(phase.group);
                phase.held = 0;
            }
            // The bulk, with nothing but locals in the loop (byte stores may
            // alias anything else).
            uint8_t *out = piece + made, *const end = piece + OUTPUT_PIECE - 3;
            if (base64_) {
                for (; k + 4 <= n; k += 4) {
                    if (out > end) {
                        made = static_cast<size_t>(out - piece);
                        flush();
                        out = piece;
                    }
                    const uint8_t *g = text + k;
                    const uint32_t v = uint32_t(b64[g[0]]) << 18 | uint32_t(b64[g[1]]) << 12 |
                                       uint32_t(b64[g[2]]) << 6 | uint32_t(b64[g[3]]);
                    out[0] = static_cast<uint8_t>(v >> 16);
                    out[1] = static_cast<uint8_t>(v >> 8);
                    out[2] = static_cast<uint8_t>(v);
                    out += 3;
                }
            } else {
                for (; k + 2 <= n; k += 2) {
                    if (out > end) {
                        made = static_cast<size_t>(out - piece);
                        flush();
                        out = piece;
                    }
                    *out++ = static_cast<uint8_t>(hx[text[k]] << 4 | hx[text[k + 1]]);
                }
            }
            made = static_cast<size_t>(out - piece);
            while (k < n) phase.group[phase.held++] = text[k++];
            flush();
        }
    }

    void endRun() {
        inRun_ = false;
        for (auto &phase : live_) {
            // A last part group of base64 (before its '=' padding) still
            // holds a byte or two.
            if (base64_ && phase->held >= 2) {
                uint32_t v = 0;
                for (size_t k = 0; k < 4; ++k)
                    v = v << 6 | (k < phase->held ? uint32_t(CHARS.base64Value[phase->group[k]]) : 0);
                const uint8_t last[2] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8)};
                phase->layer->feed(last, phase->held - 1);
            }
            phase->layer->finish();
            parent_.scan().result.peakWindowBytes =
                std::max(parent_.scan().result.peakWindowBytes, phase->layer->peakHeld());
        }
        live_.clear();
    }

    Layer &parent_;
    bool base64_;
    uint8_t member_, digit_;
    size_t phases_;
    size_t threshold_;
    bool inRun_ = false, ignore_ = false, nonHex_ = false;
    std::string prefix_, compact_;
    std::vector<uint64_t> starts_;
    size_t skip_[4] = {};
    std::vector<std::unique_ptr<Phase>> live_;
    std::vector<uint8_t> pending_;  // the start of a possible escape, from the last piece
    uint64_t pendingAt_ = 0;
};

// ---------------------------------------------------------------- UTF-16

// ASCII text stored as UTF-16, as Windows software saves text: every other
// byte zero. Its characters are searched as a stream of their own (for
// hex and base64 runs, mostly). Little- and big-endian differ only in which
// byte of each pair is the zero, so one decoder takes both: it wants a
// character and a zero by turns, and ends at the first byte that is not
// what it wants (a character outside ASCII, say).
bool asciiChar(uint8_t b) { return b != 0 && b < 0x80; }

class Utf16Text {
public:
    // `start`: of the text's first pair; `wantZero`: its first byte fed is
    // a zero.
    Utf16Text(Layer &parent, uint64_t start, bool bigEndian, bool wantZero)
        : parent_(parent), wantZero_(wantZero) {
        std::vector<EncodingStep> path = parent.path();
        path.push_back({bigEndian ? "utf-16be" : "utf-16le", start, ""});
        layer_ = std::make_unique<Layer>(parent.scan(), std::move(path), parent.streams(), parent.depth() + 1);
        out_.reserve(OUTPUT_PIECE);
    }
    ~Utf16Text() { finish(); }
    Utf16Text(const Utf16Text &) = delete;
    Utf16Text &operator=(const Utf16Text &) = delete;

    bool live() const { return live_; }

    // Takes bytes until the text ends; returns how many were its.
    size_t feed(const uint8_t *d, size_t n) {
        size_t i = 0;
        for (; live_ && i < n; ++i) {
            const uint8_t b = d[i];
            if (wantZero_ ? b != 0 : !asciiChar(b)) {
                finish();
                break;
            }
            if (!wantZero_) {
                out_.push_back(b);
                if (out_.size() == OUTPUT_PIECE) flush();
            }
            wantZero_ = !wantZero_;
        }
        flush();
        return i;
    }

    void finish() {
        if (!live_) return;
        live_ = false;
        flush();
        layer_->finish();
        parent_.scan().result.peakWindowBytes = std::max(parent_.scan().result.peakWindowBytes, layer_->peakHeld());
    }

private:
    void flush() {
        if (!out_.empty()) layer_->feed(out_.data(), out_.size());
        out_.clear();
    }

    Layer &parent_;
    bool wantZero_;
    bool live_ = true;
    std::vector<uint8_t> out_;
    std::unique_ptr<Layer> layer_;
};

// ---------------------------------------------------------------- Layer

Layer::Layer(Scan &scan, std::vector<EncodingStep> path, std::vector<uint64_t> streams, int depth)
    : scan_(scan),
      path_(std::move(path)),
      streams_(std::move(streams)),
      depth_(depth),
      blocks_(scan.settings.maxBlockBytes,
              [this](const BlockCandidate &c, const uint8_t *bytes) { onBlock(c, bytes); }) {
    if (depth_ < scan.settings.maxDepth) {
        hex_ = std::make_unique<TextRuns>(*this, false);
        base64_ = std::make_unique<TextRuns>(*this, true);
    }
}

Layer::~Layer() = default;

void Layer::onBlock(const BlockCandidate &c, const uint8_t *bytes) {
    FoundBlock found;
    found.path = path_;
    found.candidate = c;
    if (scan_.settings.keep && scan_.settings.keep(c)) found.bytes.assign(bytes, bytes + c.heldBytes);
    scan_.result.blocks.push_back(std::move(found));
    scan_.blockStreams.push_back(streams_);
}

void Layer::feed(const uint8_t *data, size_t size) {
    if (size == 0) return;
    blocks_.feed(data, size);
    if (depth_ >= scan_.settings.maxDepth && !scan_.deepNoted) noteTooDeep(data, size);
    if (depth_ < scan_.settings.maxDepth) {
#if PENNARO_HAVE_SSE2
        runMasks_.compute(data, size);
#endif
        findUtf16(data, size);
        // Streams already open take the new bytes first.
        for (auto &inflater : inflaters_) inflater->feed(data, size);
        std::erase_if(inflaters_, [](const auto &i) { return !i->live(); });
        // Stream starts straddling the last piece and this one.
        uint8_t joined[6];
        const size_t fromHere = std::min<size_t>(size, 3);
        std::memcpy(joined, tail_, tailSize_);
        std::memcpy(joined + tailSize_, data, fromHere);
        if (tailSize_ + fromHere >= 4)
            findStreams(joined, tailSize_ + fromHere, 0, std::min(tailSize_, tailSize_ + fromHere - 3),
                        position_ - tailSize_, tailSize_, data, size);
        if (size >= 4) {
            size_t told = 0;
#if PENNARO_HAVE_SSE2
            // Where the masks tell, then byte by byte.
            const std::vector<uint64_t> &starts = runMasks_.streams_;
            told = std::min(starts.size() * 64, size - 3);
            for (size_t w = 0; w < starts.size(); ++w)
                for (uint64_t m = starts[w]; m != 0; m &= m - 1)
                    if (const size_t i = w * 64 + static_cast<size_t>(__builtin_ctzll(m)); i < told)
                        startStream(data, size, i, position_, 0, data, size);
#endif
            findStreams(data, size, told, size - 3, position_, 0, data, size);
        }
        // Keep the last three bytes for the next piece.
        uint8_t keep[6];
        std::memcpy(keep, joined, tailSize_ + fromHere);
        const size_t held = tailSize_ + fromHere;
        if (size >= 3) {
            std::memcpy(tail_, data + size - 3, 3);
            tailSize_ = 3;
        } else {
            const size_t n = std::min<size_t>(held, 3);
            std::memcpy(tail_, keep + held - n, n);
            tailSize_ = n;
        }
        hex_->feed(data, size, position_);
        base64_->feed(data, size, position_);
    }
    position_ += size;
}

// Starts the streams that begin at places [from, limit) of `data` (which
// begins at stream position `at`); each is handed the rest of `data` and
// then of `chunk` past what `data` already covers (`tailBytes` of `data`
// come before `chunk`).
void Layer::findStreams(const uint8_t *data, size_t size, size_t from, size_t limit, uint64_t at, size_t tailBytes,
                        const uint8_t *chunk, size_t chunkSize) {
    for (size_t i = findStreamStart(data, from, limit); i < limit; i = findStreamStart(data, i + 1, limit))
        startStream(data, size, i, at, tailBytes, chunk, chunkSize);
}

// Starts the stream at place i of `data`, if one may start there.
void Layer::startStream(const uint8_t *data, size_t size, size_t i, uint64_t at, size_t tailBytes,
                        const uint8_t *chunk, size_t chunkSize) {
    StreamKind kind;
    if (!streamStartsWith(data + i, kind)) return;
    // Every open stream holds its inflater's state and a layer of its own,
    // and takes every byte after its start: a false start in other data
    // fails within a few bytes, but a file made of stream headers that keep
    // each other open would cost memory and time in proportion to their
    // count. Past the limit, new streams are not followed.
    if (scan_.openStreams >= scan_.settings.maxOpenStreams) {
        if (!scan_.crowdNoted)
            scan_.note(path_, "stopped following new streams at byte " + std::to_string(at + i) + ": " +
                                  std::to_string(scan_.openStreams) +
                                  " are open at once here; streams starting while so many are open are not searched");
        scan_.crowdNoted = true;
        return;
    }
    // Most zlib starts in other data fail at their first block's header:
    // those are counted as tried without setting up an inflater.
    const size_t ahead = (tailBytes > 0 ? tailBytes : size) - i;
    if (kind == StreamKind::Zlib && ahead > 2 && StreamInflater::firstBlockFails(data + i + 2, ahead - 2)) {
        ++scan_.result.streamsTried;
        return;
    }
    auto inflater = std::make_unique<Inflater>(*this, kind, at + i);
    if (!inflater->live() && kind != StreamKind::Zip) return;
    bool live = true;
    if (tailBytes > 0) {
        // Straddling: the tail's bytes from i, then the whole chunk.
        live = inflater->feed(data + i, tailBytes - i) && inflater->feed(chunk, chunkSize);
    } else {
        live = inflater->feed(data + i, size - i);
    }
    if (live) inflaters_.push_back(std::move(inflater));
}

// Text in UTF-16 is looked for where a 64-byte word of the piece holds
// characters of hex or base64 text at every other byte (and so no run of
// them: nothing else finds what is there); when the bytes between are all
// zero, the text is followed from where it begins (back into the end of
// the piece before, if it began there) to where it ends. Small pieces are
// looked at byte by byte.
void Layer::findUtf16(const uint8_t *data, size_t size) {
    constexpr size_t TAIL = 1024;  // more than a run's start can lie before its first whole word
    size_t from = 0;
    if (utf16_) {
        from = utf16_->feed(data, size);
        if (utf16_->live()) return;
        utf16_.reset();
        utf16Tail_.clear();
    }
    auto startFromTail = [&] {
        const bool big = utf16Tail_[0] == 0;  // big-endian: the first pair begins with its zero
        utf16_ = std::make_unique<Utf16Text>(*this, utf16TailAt_, big, big);
        utf16_->feed(utf16Tail_.data(), utf16Tail_.size());
        utf16Tail_.clear();
    };
    if (!PENNARO_HAVE_SSE2 || size < 128) {
        constexpr size_t LONG_ENOUGH = 96;  // bytes: 48 characters
        for (size_t i = from; i < size; ++i) {
            const uint8_t b = data[i];
            const bool member = b == 0 || asciiChar(b);
            if (utf16Tail_.empty() || !member || (utf16Tail_.back() == 0) == (b == 0)) {
                utf16Tail_.clear();
                if (member) utf16Tail_.push_back(b), utf16TailAt_ = position_ + i;
                continue;
            }
            utf16Tail_.push_back(b);
            if (utf16Tail_.size() < LONG_ENOUGH) continue;
            startFromTail();
            i += utf16_->feed(data + i + 1, size - i - 1);
            if (utf16_->live()) return;
            utf16_.reset();
        }
        return;
    }
    const std::vector<uint64_t> &masks = runMasks_.base64_;
    for (size_t w = (from + 63) / 64; runMasks_.alternating_ && w < masks.size(); ++w) {
        if (w * 64 < from || (masks[w] != EVEN_BYTES && masks[w] != ODD_BYTES)) continue;
        const size_t first = w * 64 + (masks[w] == EVEN_BYTES ? 0 : 1);
        if (first + 63 >= size) break;
        bool zeros = true;
        for (size_t k = first + 1; zeros && k < first + 64; k += 2) zeros = data[k] == 0;
        if (!zeros) continue;
        size_t start = first;
        while (start >= from + 2 && data[start - 1] == 0 && asciiChar(data[start - 2])) start -= 2;
        // The last piece's end held the text's start.
        const bool tail = from == 0 && start <= 1 && !utf16Tail_.empty() &&
                          (start == 0 ? utf16Tail_.back() == 0 : data[0] == 0 && asciiChar(utf16Tail_.back()));
        if (tail) {
            startFromTail();
            from = utf16_->feed(data, size);
        } else {
            const bool big = start > from && data[start - 1] == 0;
            utf16_ = std::make_unique<Utf16Text>(*this, position_ + start - (big ? 1 : 0), big, false);
            from = start + utf16_->feed(data + start, size - start);
        }
        if (utf16_->live()) return;
        utf16_.reset();
    }
    // The piece's end, when it may be the start of such a text: bytes that
    // alternate between zero and a character.
    utf16Tail_.clear();
    auto member = [](uint8_t b) { return b == 0 || asciiChar(b); };
    size_t k = size - 1;  // data[k, size) alternates
    if (!member(data[k])) return;
    while (k > from && size - k < TAIL && member(data[k - 1]) && (data[k - 1] == 0) != (data[k] == 0)) --k;
    if (size - k >= 2) {
        utf16Tail_.assign(data + k, data + size);
        utf16TailAt_ = position_ + k;
    }
}

// The deepest layer followed decodes nothing, but says where the scan
// stopped when a compressed stream starts in it (a ZIP inside a ZIP five
// deep): once a scan, for the first stream whose start inflates.
void Layer::noteTooDeep(const uint8_t *data, size_t size) {
    if (size < 4) return;
    for (size_t i = findStreamStart(data, 0, size - 3); i < size - 3; i = findStreamStart(data, i + 1, size - 3)) {
        StreamKind kind;
        if (!streamStartsWith(data + i, kind)) continue;
        size_t begin = i;
        std::string entry;
        if (kind == StreamKind::Zip) {
            if (size - i < ZIP_HEADER || (le16(data + i + 6) & 1) || le16(data + i + 8) != ZIP_DEFLATED) continue;
            const size_t name = le16(data + i + 26);
            begin = i + ZIP_HEADER + name + le16(data + i + 28);
            if (begin >= size) continue;
            entry.assign(reinterpret_cast<const char *>(data + i + ZIP_HEADER), name);
        }
        StreamInflater trial(kind == StreamKind::Zlib   ? StreamInflater::Wrapper::Zlib
                             : kind == StreamKind::Gzip ? StreamInflater::Wrapper::Gzip
                                                        : StreamInflater::Wrapper::Raw);
        uint8_t *piece = scan_.inflatePiece(depth_);
        const StreamInflater::Step step = trial.run(data + begin, size - begin, piece, OUTPUT_PIECE);
        if (step.status == StreamInflater::Status::Damaged || step.produced < SMALLEST_BLOCK) continue;
        std::vector<EncodingStep> path = path_;
        path.push_back({streamName(kind), position_ + i, entry});
        scan_.note(path, "not searched: nested " + std::to_string(depth_ + 1) + " levels deep, and the scan follows " +
                             std::to_string(scan_.settings.maxDepth));
        scan_.deepNoted = true;
        return;
    }
}

void Layer::finish() {
    blocks_.finish();
    if (utf16_) utf16_->finish();
    for (auto &inflater : inflaters_) inflater->finish();
    inflaters_.clear();
    if (hex_) hex_->finish();
    if (base64_) base64_->finish();
    scan_.result.peakWindowBytes = std::max(scan_.result.peakWindowBytes, blocks_.peakHeld());
}

// ---------------------------------------------------------------- results

// Whether block `a` lies, in the stream around it, inside the compressed
// bytes of one of `streams` (that it was not found through).
bool insideStreams(const Scan &scan, const FoundBlock &a, const std::vector<uint64_t> &streams) {
    for (const uint64_t id : streams) {
        const auto found = scan.extents.find(id);
        if (found == scan.extents.end()) continue;
        const Scan::Extent &e = found->second;
        const size_t level = e.path.size();
        if (a.path.size() < level) continue;
        bool same = true;
        for (size_t k = 0; same && k < level; ++k)
            same = a.path[k].kind == e.path[k].kind && a.path[k].offset == e.path[k].offset && a.path[k].entry == e.path[k].entry;
        if (!same) continue;
        if (a.path.size() > level && a.path[level].offset == e.start) continue;  // through the same stream
        const uint64_t at = a.path.size() > level ? a.path[level].offset : a.candidate.offset;
        if (at >= e.start && at < e.end) return true;
    }
    return false;
}

// A deflate stream may keep data it cannot shrink as it stands (stored
// blocks): an archive inside an archive mostly. What such data holds is
// then found twice, once where it stands among the compressed bytes and
// once inflated; it is listed once, where it stands (the shorter way). A
// copy out of a damaged stream never stands for another: how much came out
// of such a stream, and so what it holds, depends on how the bytes were read.
void dropStoredCopies(Scan &scan) {
    auto &blocks = scan.result.blocks;
    if (scan.extents.empty() || blocks.size() < 2) return;
    std::map<std::pair<uint64_t, int>, std::vector<size_t>> alike;  // by length and verdict
    for (size_t i = 0; i < blocks.size(); ++i)
        alike[{blocks[i].candidate.length, static_cast<int>(blocks[i].candidate.verdict)}].push_back(i);
    std::vector<bool> drop(blocks.size(), false);
    for (const auto &[key, group] : alike) {
        if (group.size() < 2) continue;
        for (const size_t a : group)
            for (const size_t b : group)
                if (a != b && !drop[a] && !drop[b] && blocks[a].damagedStream.empty() &&
                    blocks[a].bytes == blocks[b].bytes &&
                    insideStreams(scan, blocks[a], scan.blockStreams[b]))
                    drop[b] = true;
    }
    size_t kept = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (drop[i]) continue;
        if (kept != i) blocks[kept] = std::move(blocks[i]);
        ++kept;
    }
    blocks.resize(kept);
}

void putInFileOrder(Scan &scan) {
    dropStoredCopies(scan);
    auto &blocks = scan.result.blocks;
    std::vector<size_t> order(blocks.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    auto key = [&](size_t i) {
        std::vector<uint64_t> k;
        for (const auto &step : blocks[i].path) k.push_back(step.offset);
        k.push_back(blocks[i].candidate.offset);
        return k;
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
    std::vector<FoundBlock> sorted;
    sorted.reserve(blocks.size());
    for (size_t i : order) sorted.push_back(std::move(blocks[i]));
    blocks = std::move(sorted);
    int number = 0;
    for (auto &b : blocks)
        if (b.candidate.verdict == CandidateVerdict::Drawing && b.damagedStream.empty()) b.number = ++number;
    scan.result.drawings = number;
}

}  // namespace

ScanResult scanBytes(const uint8_t *data, size_t size, const ScanSettings &settings, size_t piece) {
    ScanResult result;
    Scan scan(settings, result);
    {
        Layer top(scan, {}, {}, 0);
        for (size_t at = 0; at < size; at += piece) {
            const size_t n = std::min(piece, size - at);
            scan.fileBytesRead += n;
            top.feed(data + at, n);
        }
        top.finish();
        result.peakWindowBytes = std::max(result.peakWindowBytes, top.peakHeld());
    }
    result.fileBytes = size;
    putInFileOrder(scan);
    return result;
}

ScanResult scanFile(const std::filesystem::path &path, const ScanSettings &settings) {
    const std::string name = path.string();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot read " + name + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) throw ToolError(name + " is a folder, not a file");
    ScanResult result;
    Scan scan(settings, result);
    {
        Layer top(scan, {}, {}, 0);
        // Small enough to stay in the cache between the read and the
        // searches, and page-aligned: the system copies into it at twice
        // the speed.
        constexpr size_t WINDOW = size_t(256) << 10;
        std::unique_ptr<uint8_t, decltype(&std::free)> window(
            static_cast<uint8_t *>(std::aligned_alloc(4096, WINDOW)), &std::free);
        if (!window) throw std::bad_alloc();
        while (true) {
            const ssize_t got = ::read(fd, window.get(), WINDOW);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw ToolError("cannot read " + name + ": " + std::strerror(errno));
            if (got == 0) break;
            scan.fileBytesRead += static_cast<uint64_t>(got);
            top.feed(window.get(), static_cast<size_t>(got));
            if (settings.progress) settings.progress(scan.fileBytesRead);
        }
        top.finish();
        result.peakWindowBytes = std::max(result.peakWindowBytes, top.peakHeld());
    }
    result.fileBytes = scan.fileBytesRead;
    putInFileOrder(scan);
    return result;
}

std::string describePath(const std::vector<EncodingStep> &path) {
    if (path.empty()) return "raw";
    std::string out;
    for (const auto &step : path) {
        if (!out.empty()) out += " > ";
        out += step.kind + "@" + std::to_string(step.offset);
        if (!step.entry.empty()) out += " (" + escapedName(step.entry) + ")";
    }
    return out;
}

std::string escapedName(const std::string &name) {
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (u < 0x20 || u == 0x7F) {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string describeVerdict(const FoundBlock &block) {
    const BlockCandidate &c = block.candidate;
    const auto &seen = c.inspection;
    switch (c.verdict) {
        case CandidateVerdict::Drawing:
            if (!block.damagedStream.empty()) return "a drawing, but it comes out of a damaged stream (" + block.damagedStream + ")";
            return "a drawing the effect opens";
        case CandidateVerdict::Overlapping:
            return "starts inside the drawing at byte " + std::to_string(c.overlapsDrawingAt) + " of the same stream";
        case CandidateVerdict::Truncated:
            return "the block needs " + std::to_string(c.length) + " bytes, the data ends after " +
                   std::to_string(c.heldBytes);
        case CandidateVerdict::TooLarge:
            return "claims " + std::to_string(c.length) + " bytes, more than a scan reads for one block";
        case CandidateVerdict::Refused: break;
    }
    using pennaro::ReadStatus;
    using pennaro::UnknownReason;
    if (seen.status == ReadStatus::OtherVersion)
        return "another format version (" + std::to_string(static_cast<int32_t>(seen.formatVersion)) +
               "); the effect opens only " + std::to_string(pennaro::FORMAT_VERSION) +
               " (\"Could not convert old drawing.\")";
    std::string why;
    switch (seen.reason) {
        case UnknownReason::ByteOrderMark: why = "the byte-order mark is wrong"; break;
        case UnknownReason::Structure: {
            using P = pennaro::BlockProblem;
            const std::string stroke = " (stroke " + std::to_string(seen.structure.stroke) + ")";
            switch (seen.structure.problem) {
                case P::NegativeStrokeCount: why = "a negative stroke count"; break;
                case P::StrokesWithoutTable: why = "strokes but no stroke table"; break;
                case P::NegativePointCount: why = "a negative sample count" + stroke; break;
                case P::SamplesTooShort: why = "a sample block shorter than its sample count" + stroke; break;
                default: why = "a stroke table or sample block outside the block"; break;
            }
            break;
        }
        default: why = "damaged header"; break;
    }
    return why + " (\"Could not open drawing. Unknown format.\")";
}

uint64_t scanBlockLimit() {
    // A block being decided is held whole, beside the drawings kept.
    return std::max<uint64_t>(SMALLEST_BLOCK, std::min<uint64_t>(ScanSettings{}.maxBlockBytes, memoryBudget() / 4));
}

}  // namespace pennaro_cli
