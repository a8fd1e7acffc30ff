#include "cli/images/png_deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace pennaro_cli {

namespace {

// Symbols of one block before they are written: a literal byte, or a run of
// 3..258 repeats of the byte before (flag bit set).
constexpr size_t BLOCK_SYMBOLS = 16384;
constexpr uint16_t RUN_FLAG = 0x8000;
constexpr int LITLEN_CODES = 286;
constexpr int END_OF_BLOCK = 256;
constexpr int MAX_CODE_BITS = 15;
constexpr int MAX_CODE_LENGTH_BITS = 7;

// Length code (257..285) and its extra bits for each run length 3..258.
struct LengthCode {
    uint16_t symbol;
    uint8_t extraBits;
    uint16_t extraValue;
};

const std::array<LengthCode, 259> &lengthCodes() {
    static const std::array<LengthCode, 259> table = [] {
        static constexpr uint16_t base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                              31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static constexpr uint8_t extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        std::array<LengthCode, 259> t{};
        for (int code = 0; code < 29; ++code) {
            const int end = code == 28 ? 259 : base[code] + (1 << extra[code]);
            for (int length = base[code]; length < end && length <= 258; ++length)
                t[size_t(length)] = {uint16_t(257 + code), extra[code], uint16_t(length - base[code])};
        }
        // 258 has a code of its own; the one before would also reach it.
        t[258] = {285, 0, 0};
        return t;
    }();
    return table;
}

// Huffman code lengths for `count` symbols, none longer than `limit`. Ties
// are broken by symbol so the lengths, and so the bytes, are reproducible.
// Symbols that never occur get no code; at least two symbols get one, so
// every code is complete (some decoders refuse incomplete ones).
void codeLengths(const uint32_t *frequencies, int count, int limit, uint8_t *lengths) {
    std::vector<uint32_t> weight(frequencies, frequencies + count);
    int used = 0;
    for (int s = 0; s < count; ++s) used += weight[size_t(s)] != 0;
    for (int s = 0; s < count && used < 2; ++s)
        if (weight[size_t(s)] == 0) weight[size_t(s)] = 1, ++used;

    std::vector<int> leaves;
    std::vector<uint64_t> nodeWeight(size_t(2 * count));
    std::vector<int> parent(size_t(2 * count));
    for (;;) {
        leaves.clear();
        for (int s = 0; s < count; ++s)
            if (weight[size_t(s)] != 0) leaves.push_back(s);
        std::stable_sort(leaves.begin(), leaves.end(),
                         [&](int a, int b) { return weight[size_t(a)] < weight[size_t(b)]; });
        // Two queues: leaves in order of weight, and the merged nodes, which
        // are made in order of weight too.
        const int n = int(leaves.size());
        for (int i = 0; i < n; ++i) nodeWeight[size_t(i)] = weight[size_t(leaves[size_t(i)])];
        int nextLeaf = 0, nextNode = n, made = n;
        auto takeSmallest = [&]() {
            if (nextLeaf < n && (nextNode == made || nodeWeight[size_t(nextLeaf)] <= nodeWeight[size_t(nextNode)]))
                return nextLeaf++;
            return nextNode++;
        };
        while (made < 2 * n - 1) {
            const int a = takeSmallest(), b = takeSmallest();
            nodeWeight[size_t(made)] = nodeWeight[size_t(a)] + nodeWeight[size_t(b)];
            parent[size_t(a)] = parent[size_t(b)] = made;
            ++made;
        }
        // Depths from the root (the last node made) down.
        std::vector<int> depth(size_t(made), 0);
        int deepest = 0;
        for (int i = made - 2; i >= 0; --i) {
            depth[size_t(i)] = depth[size_t(parent[size_t(i)])] + 1;
            deepest = std::max(deepest, depth[size_t(i)]);
        }
        if (deepest <= limit) {
            std::fill(lengths, lengths + count, uint8_t(0));
            for (int i = 0; i < n; ++i) lengths[leaves[size_t(i)]] = uint8_t(depth[size_t(i)]);
            return;
        }
        // Too deep: flatten the weights and build again (rare, and only ever
        // a little less compact than the best limited code).
        for (auto &w : weight)
            if (w != 0) w = (w + 1) / 2;
    }
}

// Canonical codes for the lengths, bit-reversed because deflate sends codes
// from their top bit down but packs bits from the bottom of each byte.
void canonicalCodes(const uint8_t *lengths, int count, uint16_t *codes) {
    int lengthCount[MAX_CODE_BITS + 1] = {};
    for (int s = 0; s < count; ++s) ++lengthCount[lengths[s]];
    lengthCount[0] = 0;
    int next[MAX_CODE_BITS + 2] = {};
    for (int bits = 1, code = 0; bits <= MAX_CODE_BITS; ++bits) {
        code = (code + lengthCount[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int s = 0; s < count; ++s) {
        const int bits = lengths[s];
        if (bits == 0) continue;
        uint32_t code = uint32_t(next[bits]++), reversed = 0;
        for (int b = 0; b < bits; ++b) reversed = (reversed << 1) | ((code >> b) & 1u);
        codes[s] = uint16_t(reversed);
    }
}

// Bits packed from the bottom of each byte, as deflate wants them. The
// caller reserves room before each block; put() never checks.
class BitWriter {
public:
    explicit BitWriter(uint8_t *at) : at_(at) {}
    // Up to 32 bits at a time.
    void put(uint32_t bits, int count) {
        buffer_ |= uint64_t(bits) << filled_;
        filled_ += count;
        if (filled_ >= 32) {
            for (int i = 0; i < 4; ++i) *at_++ = uint8_t(buffer_ >> (8 * i));
            buffer_ >>= 32;
            filled_ -= 32;
        }
    }
    void alignToByte() {
        while (filled_ > 0) {
            *at_++ = uint8_t(buffer_);
            buffer_ >>= 8;
            filled_ = std::max(filled_ - 8, 0);
        }
        buffer_ = 0;
    }
    void bytes(const uint8_t *data, size_t size) {
        if (size) std::memcpy(at_, data, size);
        at_ += size;
    }
    uint8_t *at() const { return at_; }
    int pendingBits() const { return filled_; }

private:
    uint8_t *at_;
    uint64_t buffer_ = 0;
    int filled_ = 0;
};

// How many of the bytes from data[0] (at most `most`) equal `value`.
size_t runLength(const uint8_t *data, size_t most, uint8_t value) {
    size_t length = 0;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = uint64_t(value) * 0x0101010101010101ull;
        while (length + 8 <= most) {
            uint64_t word;
            std::memcpy(&word, data + length, 8);
            if (const uint64_t differs = word ^ pattern) return length + size_t(std::countr_zero(differs) / 8);
            length += 8;
        }
    }
    while (length < most && data[length] == value) ++length;
    return length;
}

void storedBlocks(BitWriter &bits, const uint8_t *data, size_t size, bool last) {
    do {
        const size_t part = std::min<size_t>(size, 65535);
        const bool final = last && part == size;
        bits.put(final ? 1u : 0u, 3);  // BFINAL, BTYPE 00
        bits.alignToByte();
        const uint8_t header[4] = {uint8_t(part), uint8_t(part >> 8), uint8_t(~part), uint8_t(~part >> 8)};
        bits.bytes(header, 4);
        bits.bytes(data, part);
        data += part;
        size -= part;
    } while (size > 0);
}

// The code-length sequence of a dynamic block header, run-length coded with
// the symbols 16 (repeat the previous length 3..6 times), 17 (3..10 zeros)
// and 18 (11..138 zeros). Each entry: symbol | extra value << 8.
std::vector<uint16_t> codeLengthSymbols(const uint8_t *lengths, int count) {
    std::vector<uint16_t> out;
    int i = 0;
    while (i < count) {
        const uint8_t value = lengths[i];
        int run = 1;
        while (i + run < count && lengths[i + run] == value) ++run;
        i += run;
        if (value == 0) {
            while (run >= 11) {
                const int r = std::min(run, 138);
                out.push_back(uint16_t(18 | (r - 11) << 8));
                run -= r;
            }
            if (run >= 3) {
                out.push_back(uint16_t(17 | (run - 3) << 8));
                run = 0;
            }
        } else {
            out.push_back(value);
            --run;
            while (run >= 3) {
                const int r = std::min(run, 6);
                out.push_back(uint16_t(16 | (r - 3) << 8));
                run -= r;
            }
        }
        for (; run > 0; --run) out.push_back(value);
    }
    return out;
}

constexpr int CODE_LENGTH_EXTRA[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint8_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// One block of symbols: written with its own codes, or stored when that is
// no larger.
void writeBlock(BitWriter &bits, const uint16_t *symbols, size_t symbolCount, const uint8_t *data, size_t size,
                bool final) {
    const auto &lengthTable = lengthCodes();
    uint32_t frequency[LITLEN_CODES] = {};
    for (size_t i = 0; i < symbolCount; ++i) {
        const uint16_t s = symbols[i];
        ++frequency[(s & RUN_FLAG) ? lengthTable[s & ~RUN_FLAG].symbol : s];
    }
    frequency[END_OF_BLOCK] = 1;
    uint8_t lengths[LITLEN_CODES] = {};
    codeLengths(frequency, LITLEN_CODES, MAX_CODE_BITS, lengths);
    int literalCodes = LITLEN_CODES;
    while (lengths[literalCodes - 1] == 0) --literalCodes;
    // The header lists the literal/length code's lengths and then the
    // distance code's: distance 1 is the only distance, and two one-bit
    // codes keep that code complete.
    uint8_t listed[LITLEN_CODES + 2] = {};
    std::copy(lengths, lengths + literalCodes, listed);
    listed[literalCodes] = listed[literalCodes + 1] = 1;

    const std::vector<uint16_t> header = codeLengthSymbols(listed, literalCodes + 2);
    uint32_t headerFrequency[19] = {};
    for (uint16_t h : header) ++headerFrequency[h & 0xFF];
    uint8_t headerLengths[19] = {};
    codeLengths(headerFrequency, 19, MAX_CODE_LENGTH_BITS, headerLengths);
    int headerCodes = 19;
    while (headerCodes > 4 && headerLengths[CODE_LENGTH_ORDER[headerCodes - 1]] == 0) --headerCodes;

    uint64_t dynamicBits = 3 + 5 + 5 + 4 + 3 * uint64_t(headerCodes);
    for (uint16_t h : header) dynamicBits += headerLengths[h & 0xFF] + uint64_t(CODE_LENGTH_EXTRA[h & 0xFF]);
    for (int s = 0; s < LITLEN_CODES; ++s) dynamicBits += uint64_t(frequency[s]) * lengths[s];
    for (int code = 265; code < 285; ++code) dynamicBits += uint64_t(frequency[code]) * ((code - 261) / 4);
    for (int s = 257; s < LITLEN_CODES; ++s) dynamicBits += frequency[s];  // the distance code's bit
    const uint64_t storedBits = (size / 65535 + 1) * (3 + 7 + 32) + 8 * uint64_t(size);
    if (storedBits <= dynamicBits) {
        storedBlocks(bits, data, size, final);
        return;
    }

    bits.put((final ? 1u : 0u) | 2u << 1, 3);  // BTYPE 10: dynamic codes
    bits.put(uint32_t(literalCodes - 257), 5);
    bits.put(2 - 1, 5);
    bits.put(uint32_t(headerCodes - 4), 4);
    for (int i = 0; i < headerCodes; ++i) bits.put(headerLengths[CODE_LENGTH_ORDER[i]], 3);
    uint16_t headerCode[19] = {};
    canonicalCodes(headerLengths, 19, headerCode);
    for (uint16_t h : header) {
        const int s = h & 0xFF;
        bits.put(headerCode[s], headerLengths[s]);
        if (CODE_LENGTH_EXTRA[s]) bits.put(uint32_t(h >> 8), CODE_LENGTH_EXTRA[s]);
    }

    uint16_t code[LITLEN_CODES] = {};
    canonicalCodes(lengths, LITLEN_CODES, code);
    // A run's length code, its extra bits and the distance bit in one go.
    uint32_t runCode[259];
    uint8_t runBits[259];
    for (int length = 3; length <= 258; ++length) {
        const LengthCode &l = lengthTable[size_t(length)];
        if (lengths[l.symbol] == 0) continue;
        runCode[length] = code[l.symbol] | uint32_t(l.extraValue) << lengths[l.symbol];  // then distance bit 0
        runBits[length] = uint8_t(lengths[l.symbol] + l.extraBits + 1);
    }
    for (size_t i = 0; i < symbolCount; ++i) {
        const uint16_t s = symbols[i];
        if (s & RUN_FLAG) {
            const int length = s & ~RUN_FLAG;
            bits.put(runCode[length], runBits[length]);
        } else {
            bits.put(code[s], lengths[s]);
        }
    }
    bits.put(code[END_OF_BLOCK], lengths[END_OF_BLOCK]);
}

}  // namespace

void deflateRuns(const uint8_t *data, size_t size, bool last, std::vector<uint8_t> &out) {
    std::vector<uint16_t> symbols(BLOCK_SYMBOLS);
    // Worst case: every block stored (5 bytes per 65535 and per block), plus
    // the closing empty block and the bits left over.
    const size_t room = size + 5 * (size / 65535 + size / BLOCK_SYMBOLS + 2) + 16;
    const size_t start = out.size();
    out.resize(start + room);
    BitWriter bits(out.data() + start);
    size_t at = 0;
    do {
        const size_t blockStart = at;
        size_t count = 0;
        while (at < size && count < BLOCK_SYMBOLS) {
            // A run repeats the byte before it; the first byte of a piece is
            // always a literal, so pieces never reach into each other.
            if (at > 0 && at + 3 <= size && data[at] == data[at - 1]) {
                const size_t length = runLength(data + at, std::min<size_t>(258, size - at), data[at - 1]);
                if (length >= 3) {
                    symbols[count++] = uint16_t(RUN_FLAG | length);
                    at += length;
                    continue;
                }
            }
            symbols[count++] = data[at++];
        }
        writeBlock(bits, symbols.data(), count, data + blockStart, at - blockStart, last && at == size);
    } while (at < size);
    if (!last) storedBlocks(bits, data, 0, false);  // empty, and byte-aligned after it
    bits.alignToByte();
    out.resize(size_t(bits.at() - out.data()));
}

void deflateStored(const uint8_t *data, size_t size, bool last, std::vector<uint8_t> &out) {
    const size_t start = out.size();
    out.resize(start + size + 5 * (size / 65535 + 2) + 16);
    BitWriter bits(out.data() + start);
    storedBlocks(bits, data, size, last);
    if (!last) storedBlocks(bits, data, 0, false);
    bits.alignToByte();
    out.resize(size_t(bits.at() - out.data()));
}

void paethFilterRow(const uint8_t *row, const uint8_t *previous, size_t rowBytes, int bytesPerPixel,
                    uint8_t *out) {
    *out++ = 4;
    const size_t bpp = size_t(bytesPerPixel);
    if (!previous) {
        // Above the first row everything is zero: Paeth picks the left byte.
        for (size_t i = 0; i < std::min(bpp, rowBytes); ++i) out[i] = row[i];
        for (size_t i = bpp; i < rowBytes; ++i) out[i] = uint8_t(row[i] - row[i - bpp]);
        return;
    }
    for (size_t i = 0; i < std::min(bpp, rowBytes); ++i) out[i] = uint8_t(row[i] - previous[i]);
    // Written without branches so that the compiler vectorizes it: every
    // predictor comes from unfiltered bytes, so the bytes of a row are
    // independent of each other.
    for (size_t i = bpp; i < rowBytes; ++i) {
        const int16_t a = row[i - bpp], b = previous[i], c = previous[i - bpp];
        const int16_t pa = int16_t(std::abs(b - c)), pb = int16_t(std::abs(a - c)),
                      pc = int16_t(std::abs(a + b - 2 * c));
        const int16_t predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        out[i] = uint8_t(row[i] - predicted);
    }
}

}  // namespace pennaro_cli
