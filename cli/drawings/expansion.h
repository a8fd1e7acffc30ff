// What a saved drawing grows to once opened. Strokes may point at the same
// sample bytes, so a small block can claim far more samples than it holds:
// every command checks the claim against the memory budget before building
// anything from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pennaro_cli {

// Bytes a sample takes in the JSON form while it is built and written.
inline constexpr uint64_t JSON_BYTES_PER_SAMPLE = 256;
inline constexpr uint64_t JSON_BYTES_PER_STROKE = 2048;

struct DrawingExpansion {
    bool readable = false;       // a block the effect would open; nothing else is counted
    int32_t strokes = 0;
    uint64_t samples = 0;        // as the strokes count them
    uint64_t sampleBytes = 0;    // the sample bytes the strokes claim, each stroke its own
    uint64_t heldSampleBytes = 0;  // bytes of the block those claims cover, counted once
    bool shared = false;         // some strokes share or overlap sample bytes
    uint64_t memoryBytes = 0;    // the drawing as the effect holds it in memory
};

// Reads only the header and the stroke table of a block in either byte
// order; allocates in proportion to the stroke count, never to the claims.
DrawingExpansion measureExpansion(const std::vector<uint8_t> &block);

// What a command needs to build from the drawing.
enum class Expansion { Render, Resave, Json };
uint64_t bytesNeeded(const DrawingExpansion &e, Expansion what);

// Throws ToolError naming the file, what it expands to and the budget when
// `what` would take the drawing past the memory budget.
void refuseBeyondBudget(const DrawingExpansion &e, Expansion what, const std::string &name);

// "strokes share sample bytes: 15000 strokes claim 14.3 GiB of samples held
// in 1.0 MiB", empty when no two strokes share.
std::string describeSharing(const DrawingExpansion &e);

}  // namespace pennaro_cli
