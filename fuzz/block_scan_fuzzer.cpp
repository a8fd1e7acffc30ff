// Feeds arbitrary bytes to the search for drawings inside other files, with
// every decoding it follows (hex, base64, zlib, gzip, ZIP). Every drawing it
// numbers is a block the effect's reader opens, its bytes exactly as long as
// the block claims; and the bytes handed over in small pieces give the same
// list as handed over whole.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/block.h"
#include "lib/block_search.h"

namespace {

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "block scan fuzzer: %s\n", what.c_str());
    std::abort();
}

// A block too large to take is measured only until it is known to be too
// large; how far that got depends on the bytes at hand, so its length is
// left out.
std::vector<std::string> listing(const pennaro_cli::ScanResult &result) {
    std::vector<std::string> lines;
    for (const auto &b : result.blocks) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
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
    if (!stoppedByBound(whole) && !stoppedByBound(pieces) && listing(whole) != listing(pieces))
        fail("the bytes in pieces of " + std::to_string(piece) + " give another list");
    return 0;
}
