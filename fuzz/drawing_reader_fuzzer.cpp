// Feeds arbitrary bytes to the effect as a saved drawing, the way the host
// does on project open (re-set-up), then uses whatever the effect accepted as
// the render would: every stroke's samples are read in full. The drawing is
// saved and read once more, and set down; any handle left behind is a leak.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drawing/records.h"
#include "drawing/sequence.h"
#include "host/entry.h"
#include "minihost/testing.h"

namespace {

minihost::TestHost *host = nullptr;
uint64_t baseline = 0;

int32_t send(int32_t command) { return host->send(&pennaro::filterMain, command); }

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "drawing reader fuzzer: %s\n", what);
    std::abort();
}

// Reads everything the render and the rasterizer would read of an accepted
// drawing, relying only on what the reader promises.
void touchDrawing() {
    HostInData *in = &host->in;
    const int32_t count = pennaro::getStrokeCount(in);
    if (count < 0) fail("accepted drawing is not in memory form");
    HostHandle table = pennaro::getStrokeTable(in);
    if (count > 0 && !table) fail("strokes without a stroke table");
    if (!table) return;
    if (minihost::getHandleSize(table) < static_cast<uint64_t>(count) * sizeof(pennaro::PaintStroke))
        fail("stroke table shorter than its count");
    auto *strokes = static_cast<pennaro::PaintStroke *>(minihost::lockHandle(table));
    volatile float sink = 0.0f;
    for (int32_t i = 0; i < count; ++i) {
        const pennaro::PaintStroke &s = strokes[i];
        if (s.pointCount < 0) fail("negative point count accepted");
        if (s.pointCount == 0) continue;
        if (!s.points || minihost::getHandleSize(s.points) < static_cast<uint64_t>(s.pointCount) * 16u)
            fail("samples shorter than the point count");
        auto *p = static_cast<const pennaro::PaintPoint *>(minihost::lockHandle(s.points));
        for (int32_t k = 0; k < s.pointCount; ++k) sink = sink + p[k].time + p[k].x + p[k].y + p[k].pressure;
        minihost::unlockHandle(s.points);
    }
    minihost::unlockHandle(table);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    host = new minihost::TestHost;
    minihost::setStrictHandles(std::getenv("PENNARO_FUZZ_STRICT") != nullptr);
    if (send(HOST_CMD_GLOBAL_SETUP) != 0) fail("global set-up failed");
    baseline = minihost::handleStats().live;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Files never hold the memory form (the word at offset 8 is then 0): it
    // carries handles, which no saved block can. Make such inputs flattened.
    HostHandle block = minihost::newHandle(size);
    auto *bytes = static_cast<uint8_t *>(minihost::lockHandle(block));
    if (size) std::memcpy(bytes, data, size);
    if (size >= 12 && bytes[8] == 0 && bytes[9] == 0 && bytes[10] == 0 && bytes[11] == 0) bytes[8] = 232;
    host->in.sequenceData = block;  // locked, as between commands

    if (send(HOST_CMD_SEQUENCE_RESETUP) != 0) fail("re-set-up failed");
    if (host->in.sequenceData) {
        minihost::unlockHandle(host->in.sequenceData);
        touchDrawing();
        minihost::lockHandle(host->in.sequenceData);
        // Save it and open it again: the saved block must be readable.
        if (send(HOST_CMD_SEQUENCE_FLATTEN) == 0) {
            // The byte-order mark is carried over verbatim, so a block whose
            // mark had stray low bits reads as the other byte order once
            // saved here. Any other block must read back.
            const bool markSound = static_cast<const uint8_t *>(*host->in.sequenceData)[4] == 0;
            if (send(HOST_CMD_SEQUENCE_RESETUP) != 0) fail("second re-set-up failed");
            if (markSound && host->out.message[0] != '\0') fail("the effect could not read its own block");
        }
    }
    send(HOST_CMD_SEQUENCE_SETDOWN);
    if (host->in.sequenceData) fail("set-down left sequence data");
    const minihost::HandleStats stats = minihost::handleStats();
    if (stats.live != baseline) fail("handles leaked");
    if (stats.locked != 0) fail("a handle was left locked");
    if (stats.misuse != 0) fail("host services misused");
    return 0;
}
