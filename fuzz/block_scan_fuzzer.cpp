// Feeds arbitrary bytes to the search for drawings inside other files, with
// every decoding it follows (hex, base64, zlib, gzip, ZIP). Every drawing it
// numbers is a block the effect's reader opens, its bytes exactly as long as
// the block claims; and the bytes handed over in small pieces give the same
// list as handed over whole. On the side, zlib checks the scanner's inflater
// on the same bytes, as they stand or deflated first and then spoiled.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/block.h"
#include "cli/scan/container_search.h"
#include "cli/scan/stream_inflater.h"

namespace {

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "block scan fuzzer: %s\n", what.c_str());
    std::abort();
}

// A block too large to take is measured only until it is known to be too
// large; how far that got depends on the bytes at hand, so its length is
// left out. So are the blocks out of a damaged stream: how many bytes came
// out before the inflater saw the damage depends on how much input it had
// (it may have decoded a few symbols past the point zlib stops at), and
// they never count as drawings.
std::vector<std::string> listing(const pennaro_cli::ScanResult &result) {
    std::vector<std::string> lines;
    for (const auto &b : result.blocks) {
        if (!b.damagedStream.empty()) continue;
        const bool tooLarge = b.candidate.verdict == pennaro::CandidateVerdict::TooLarge;
        lines.push_back(pennaro_cli::describePath(b.path) + " " + std::to_string(b.candidate.offset) + " " +
                        pennaro::verdictName(b.candidate.verdict) + " " +
                        (tooLarge ? std::string("-") : std::to_string(b.candidate.length)) + " #" +
                        std::to_string(b.number) + " " + b.damagedStream);
    }
    return lines;
}

// A bound on inflating stops at the edge of a piece of output, which
// depends on how the input came in.
bool stoppedByBound(const pennaro_cli::ScanResult &result) {
    for (const auto &n : result.notes)
        if (n.message.rfind("stopped", 0) == 0) return true;
    return false;
}

using Bytes = std::vector<uint8_t>;
using pennaro_cli::StreamInflater;

enum class Ending { More, End, Damaged };

// What zlib makes of `stream` fed in pieces of `piece` bytes.
Ending zlibInflate(const Bytes &stream, int windowBits, size_t piece, Bytes &out) {
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK) fail("zlib would not start");
    uint8_t buffer[4096];
    Ending ending = Ending::More;
    for (size_t at = 0; at < stream.size() && ending == Ending::More; at += piece) {
        z.next_in = const_cast<Bytef *>(stream.data() + at);
        z.avail_in = static_cast<uInt>(std::min(piece, stream.size() - at));
        while (true) {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            const int status = inflate(&z, Z_NO_FLUSH);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
            if (status == Z_STREAM_END) ending = Ending::End;
            else if (status != Z_OK && status != Z_BUF_ERROR) ending = Ending::Damaged;
            if (ending != Ending::More || (z.avail_in == 0 && z.avail_out != 0) || status == Z_BUF_ERROR) break;
        }
    }
    inflateEnd(&z);
    return ending;
}

Ending isalInflate(const Bytes &stream, StreamInflater::Wrapper wrapper, size_t piece, Bytes &out) {
    StreamInflater inflater(wrapper);
    uint8_t buffer[4096];
    for (size_t at = 0; at < stream.size(); at += piece) {
        const uint8_t *in = stream.data() + at;
        size_t left = std::min(piece, stream.size() - at);
        while (true) {
            const auto step = inflater.run(in, left, buffer, sizeof buffer);
            in += step.consumed;
            left -= step.consumed;
            out.insert(out.end(), buffer, buffer + step.produced);
            if (step.status == StreamInflater::Status::End) return Ending::End;
            if (step.status == StreamInflater::Status::Damaged) return Ending::Damaged;
            if ((left == 0 && step.produced < sizeof buffer) || (step.consumed == 0 && step.produced == 0)) break;
        }
    }
    if (inflater.totalOut() != out.size()) fail("the inflater counts its output wrong");
    return Ending::More;
}

// data[0] picks the wrapper (zlib, gzip, raw deflate), whether the rest is
// deflated first, and the size of the pieces; a deflated stream then has
// one byte spoiled where the input's last bytes say. Both inflaters must
// give the same bytes up to where either stops, and agree on a stream
// that ends or needs more.
void compareInflaters(const uint8_t *data, size_t size) {
    if (size < 2) return;
    const uint8_t mode = data[0];
    const int kind = mode % 3;
    const int windowBits = kind == 0 ? 15 : kind == 1 ? 31 : -15;
    Bytes stream(data + 1, data + size);
    if (mode & 4) {
        z_stream z{};
        deflateInit2(&z, 1 + (mode >> 5), Z_DEFLATED, windowBits, 8, (mode & 8) ? Z_FIXED : Z_DEFAULT_STRATEGY);
        Bytes packed(deflateBound(&z, stream.size()) + 64);
        z.next_in = stream.data();
        z.avail_in = static_cast<uInt>(stream.size());
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        deflate(&z, Z_FINISH);
        packed.resize(z.total_out);
        deflateEnd(&z);
        if (mode & 16) packed[(data[size - 1] * 251u + data[size / 2] * 7u) % packed.size()] ^= data[size - 2] | 1;
        stream = std::move(packed);
    }
    // Only streams that start the way the scanner looks for.
    if (kind == 0 && !(stream.size() >= 2 && stream[0] == 0x78 &&
                       (stream[1] == 0x01 || stream[1] == 0x5E || stream[1] == 0x9C || stream[1] == 0xDA)))
        return;
    if (kind == 1 && !(stream.size() >= 4 && stream[0] == 0x1F && stream[1] == 0x8B && stream[2] == 8 &&
                       (stream[3] & 0xE0) == 0))
        return;
    const size_t piece = 1 + (mode >> 3) * 37u % 997u;
    Bytes fromZlib, fromIsal;
    const Ending z = zlibInflate(stream, windowBits, piece, fromZlib);
    const Ending i = isalInflate(stream, static_cast<StreamInflater::Wrapper>(kind), piece, fromIsal);
    const size_t common = std::min(fromZlib.size(), fromIsal.size());
    if (!std::equal(fromZlib.begin(), fromZlib.begin() + static_cast<std::ptrdiff_t>(common), fromIsal.begin()))
        fail("the inflater and zlib give different bytes");
    if ((z == Ending::Damaged) != (i == Ending::Damaged) && (z == Ending::End || i == Ending::End))
        fail(std::string("zlib says the stream ") + (z == Ending::End ? "ends well" : "is damaged") +
             ", the inflater that it " + (i == Ending::End ? "ends well" : "is damaged"));
    if (z != Ending::Damaged && i != Ending::Damaged && (z != i || fromZlib != fromIsal))
        fail("the inflater and zlib disagree on a stream neither finds damaged");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    compareInflaters(data, size);
    pennaro_cli::ScanSettings settings;
    settings.maxBlockBytes = 1 << 20;
    settings.inflateFloor = 1 << 20;
    settings.inflateTotalFloor = 8 << 20;
    settings.keep = [](const pennaro::BlockCandidate &c) { return c.verdict == pennaro::CandidateVerdict::Drawing; };
    const auto whole = pennaro_cli::scanBytes(data, size, settings, size > 0 ? size : 1);
    int number = 0;
    for (const auto &b : whole.blocks) {
        if (!b.isDrawing()) continue;
        if (b.number != ++number) fail("drawings are not numbered 1, 2, ... in file order");
        if (b.bytes.size() != b.candidate.length) fail("a drawing's bytes are not the length its block claims");
        if (pennaro::inspectBlock(b.bytes.data(), b.bytes.size()).status != pennaro::ReadStatus::Read)
            fail("a numbered drawing is one the reader refuses");
    }
    if (number != whole.drawings) fail("the count of drawings is not the count numbered");
    const size_t piece = size > 0 ? 1 + data[0] % 61 : 1;
    const auto pieces = pennaro_cli::scanBytes(data, size, settings, piece);
    if (!stoppedByBound(whole) && !stoppedByBound(pieces) && listing(whole) != listing(pieces)) {
        std::string both = "\n  whole:";
        for (const auto &line : listing(whole)) both += "\n    " + line;
        both += "\n  in pieces:";
        for (const auto &line : listing(pieces)) both += "\n    " + line;
        fail("the bytes in pieces of " + std::to_string(piece) + " give another list" + both);
    }
    return 0;
}
