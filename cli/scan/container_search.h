// Finding the drawings inside any file: project files, backups, archives,
// and the encodings and compressions such files hold them in. The search
// for block candidates in plain bytes is src/format/block_candidates.h's;
// this is what finds the bytes to give it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "format/block_candidates.h"

namespace pennaro_cli {

// One decoding on the way to a block: the encoded run or compressed stream
// starts at `offset` of the stream around it.
struct EncodingStep {
    std::string kind;  // "hex", "base64", "zlib", "gzip" or "zip"
    uint64_t offset = 0;
    std::string entry;  // zip: the entry's name
};

struct FoundBlock {
    std::vector<EncodingStep> path;  // outermost first; empty for a raw block
    pennaro::BlockCandidate candidate;  // offset within the innermost stream
    // Set when the stream the block came out of turned out to be damaged:
    // the block is listed but not counted as a drawing.
    std::string damagedStream;
    int number = 0;  // 1, 2, ... for the drawings the effect opens; 0 otherwise
    std::vector<uint8_t> bytes;  // kept when ScanSettings::keep asks for it
    bool isDrawing() const { return number > 0; }
};

// Something about a stream worth telling that is not a block: a bomb not
// followed, a stream too deep, the inflate budget spent.
struct StreamNote {
    std::vector<EncodingStep> path;  // the stream concerned is the last step
    std::string message;
};

struct ScanSettings {
    uint64_t maxBlockBytes = uint64_t(256) << 20;  // larger candidates are reported, not read
    int maxDepth = 4;                               // encodings inside encodings
    // A stream may inflate to this many times its compressed size (and to
    // at least inflateFloor bytes) before it is taken for a bomb.
    uint64_t inflateRatio = 200;
    uint64_t inflateFloor = uint64_t(32) << 20;
    // All streams of the file together inflate to at most this, plus 64
    // times the file's size: nested bombs multiply, and this caps them all.
    uint64_t inflateTotalFloor = uint64_t(1) << 30;
    // Streams inflated at once, over every layer; one starting while this
    // many are open is noted and not followed.
    int maxOpenStreams = 64;
    // Which blocks' bytes to keep (called once the verdict is known).
    std::function<bool(const pennaro::BlockCandidate &)> keep;
    // Called now and then with the bytes of the file read so far.
    std::function<void(uint64_t)> progress;
};

struct ScanResult {
    std::vector<FoundBlock> blocks;  // in file order
    std::vector<StreamNote> notes;
    uint64_t fileBytes = 0;
    int drawings = 0;
    // Counters for tests of bounded work.
    uint64_t peakWindowBytes = 0;
    uint64_t inflatedBytes = 0;
    uint64_t streamsTried = 0;
};

// Scans one file. Throws ToolError when it cannot be read.
ScanResult scanFile(const std::filesystem::path &path, const ScanSettings &settings);
// Same over bytes in memory (for tests and fuzzing), handed over in pieces
// of `piece` bytes.
ScanResult scanBytes(const uint8_t *data, size_t size, const ScanSettings &settings, size_t piece = 1 << 20);

// "raw", "hex@120 > zlib@0", ... : the path as one line.
std::string describePath(const std::vector<EncodingStep> &path);
// A name from the data (a ZIP entry's, a file's) as a listing may print it:
// control characters and backslashes written \xNN and \\, so that a name
// cannot move the cursor, clear the terminal or pass for another line.
std::string escapedName(const std::string &name);
// The reader's reason for refusing a block, as a sentence ("another format
// version (265); the effect opens only 272").
std::string describeVerdict(const FoundBlock &block);

// The largest block a scan holds to decide it: 256 MiB, or a quarter of the
// memory budget (--max-memory) when that is less.
uint64_t scanBlockLimit();

}  // namespace pennaro_cli
