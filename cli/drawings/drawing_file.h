// Drawing files as people and tools handle them.
//
// A drawing file is either
//   - a flattened block exactly as the effect saves it in a project (32-bit
//     words, in the byte order of the machine that wrote it), or
//   - the JSON form described in docs/drawing-format.md (a "format" key,
//     the header fields, the two brushes and masks, and every stroke with its
//     samples as [time, x, y, pressure]).
//
// The block layout comes from src/drawing/records.h and is never restated
// here. Everything that reads a file checks it the way the effect's reader
// does and throws pennaro_cli::ToolError with a readable reason when the
// effect would refuse it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace pennaro_cli {

// Version of the JSON form written by this tool (the "format" key).
inline constexpr int DRAWING_JSON_FORMAT = 1;

enum class ByteOrder { Little, Big };

enum class DrawingFileKind { Block, Json };

// ---- the helper most commands want -------------------------------------

struct LoadedDrawing {
    // The drawing as a little-endian flattened block, ready to hand to the
    // effect as sequence data for re-set-up. Structurally checked.
    std::vector<uint8_t> block;
    DrawingFileKind kind = DrawingFileKind::Block;
    ByteOrder fileByteOrder = ByteOrder::Little;  // of the block in the file
    // Layer time in seconds at which the last stroke ends: the largest
    // startTime + duration over all strokes (finite values only), computed
    // in double precision; 0 for a drawing without strokes.
    double endTime = 0.0;
};

// The bytes of a drawing file. A regular file is read whole; from a pipe or
// device only as much is read as the drawing it starts with can hold (a
// block up to the end its header gives, JSON up to JSON_STREAM_MAX_BYTES),
// stopping at once when the first bytes are neither form. (FILE@N, a
// drawing inside another file, is read by cli/scan/drawing_reference.h.)
std::vector<uint8_t> readDrawingFileBytes(const std::filesystem::path &path);

// Same from bytes already read; `name` is used in error messages.
LoadedDrawing loadDrawingBytes(const std::vector<uint8_t> &bytes, const std::string &name);

// The time of the end of the last stroke of a checked little-endian block.
double drawingEndTime(const std::vector<uint8_t> &littleEndianBlock);

// ---- pieces -------------------------------------------------------------

// True when the bytes look like JSON (after a UTF-8 byte-order mark, the
// first non-blank character is '{' or '[').
bool looksLikeJson(const std::vector<uint8_t> &bytes);

// Throws ToolError naming what the file is when it is plainly no drawing of
// either form: a PNG image, or JSON in UTF-16 or UTF-32.
void refuseOtherForms(const std::vector<uint8_t> &bytes, const std::string &name);

// Byte order of a flattened block, told by its byte-order mark. Throws
// ToolError when the file is too short to tell.
ByteOrder detectByteOrder(const std::vector<uint8_t> &block);

// Reverses the bytes of every whole 32-bit word (a trailing 1..3 bytes are
// left as they are), converting a block between the two byte orders.
void swapWordBytes(std::vector<uint8_t> &block);

// Brings a block in either byte order to little-endian and checks it like
// the effect's reader does (header, byte-order mark, the word at offset 8,
// stroke table and every sample block inside the block). Throws ToolError.
std::vector<uint8_t> normalizeBlock(const std::vector<uint8_t> &block, const std::string &name);

// Throws ToolError when a block in this machine's byte order (as
// normalizeBlock gives it) would not open again once written: the one case
// the effect opens but cannot save back.
void requireReadableOnceSaved(const std::vector<uint8_t> &block, const std::string &name);

// Block (either byte order) <-> JSON. The JSON form of an accepted
// little-endian block converts back to the very same bytes.
nlohmann::ordered_json blockToJson(const std::vector<uint8_t> &block, const std::string &name = "drawing");
std::vector<uint8_t> jsonToBlock(const nlohmann::ordered_json &drawing, ByteOrder order = ByteOrder::Little);

// Parses the text of a JSON drawing file; a syntax error becomes a
// ToolError naming the file, line and column.
nlohmann::ordered_json parseDrawingJson(const std::vector<uint8_t> &bytes, const std::string &name);

// JSON text as the tools write it: two-space indentation, each sample on
// one line.
std::string formatDrawingJson(const nlohmann::ordered_json &drawing);

// ---- summary for `pennaro info` -----------------------------------------

struct DrawingSummary {
    uint32_t formatVersion = 0;
    ByteOrder byteOrder = ByteOrder::Little;
    int32_t strokeCount = 0;
    uint64_t sampleCount = 0;
    bool hasTime = false;  // false when there is no finite stroke time
    double firstStart = 0.0, lastEnd = 0.0;
    uint32_t roundStrokes = 0, softStrokes = 0, squareStrokes = 0, otherStrokes = 0;
    uint32_t eraseStrokes = 0;
    bool hasBounds = false;  // false when there is no finite sample position
    double minX = 0.0, minY = 0.0, maxX = 0.0, maxY = 0.0;  // layer fractions
};

DrawingSummary summarizeDrawing(const std::vector<uint8_t> &littleEndianBlock, ByteOrder fileOrder);
std::string formatSummary(const DrawingSummary &summary, const std::string &name, DrawingFileKind kind);

}  // namespace pennaro_cli
