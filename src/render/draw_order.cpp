// Draw order: strokes are drawn by start time, and strokes that start
// together by ascending id, whatever their place in the stroke table.
//
// The order is defined by selection rounds: each round picks the least
// (start time, id) pair above the previous pick, starting from (0, -1). The
// rounds therefore visit the distinct reachable pairs in ascending order,
// each pair at the lowest table index that holds it, and once they run out
// every further round repeats the last pick (stroke 0 when nothing was
// picked). That is the same as one sort, which is how it is built here; the
// progress calls still come at the rounds where the rounds would make them,
// and the render gives the build the share of the progress bar the rounds
// were given.
#include "render/draw_order.h"

#include <algorithm>

#include "pennaro/errors.h"

namespace pennaro {

namespace {

// Float comparison as the rounds make it: -0 and +0 are one start time, and
// a NaN start time is never above anything, so such strokes are never drawn.
bool keyBefore(const StrokeInfo &a, const StrokeInfo &b) {
    return a.startTime < b.startTime || (a.startTime == b.startTime && a.strokeId < b.strokeId);
}

bool reachable(const StrokeInfo &s) {
    return 0.0f < s.startTime || (0.0f == s.startTime && -1 < s.strokeId);
}

}  // namespace

int32_t fillDrawOrder(const PaintStroke *strokes, int32_t n, int32_t *order, Progress &progress) {
    // Sorted in place in the order array itself, so the build needs no
    // memory beyond what the host gave: the reachable indices, by pair and
    // then by table index (the rounds take the first stroke holding a pair
    // and never reach the others), duplicates of a pair dropped.
    int32_t reached = 0;
    for (int32_t k = 0; k < n; ++k)
        if (reachable(strokes[k].info)) order[reached++] = k;
    std::sort(order, order + reached, [strokes](int32_t a, int32_t b) {
        if (keyBefore(strokes[a].info, strokes[b].info)) return true;
        if (keyBefore(strokes[b].info, strokes[a].info)) return false;
        return a < b;
    });
    int32_t distinct = 0;
    for (int32_t j = 0; j < reached; ++j)
        if (distinct == 0 || keyBefore(strokes[order[distinct - 1]].info, strokes[order[j]].info)) order[distinct++] = order[j];
    const int32_t last = distinct > 0 ? order[distinct - 1] : 0;
    for (int32_t i = distinct; i < n; ++i) order[i] = last;

    // The host sees the progress calls of the rounds: one before every
    // 256th round. An order stopped by the host is not used.
    const int32_t progressTotal = drawOrderProgressTotal(n);
    for (int32_t i = 256; i < n; i += 256) {
        const int32_t answer = progress.report(i, progressTotal);
        if (answer != 0) return answer;
    }
    return 0;
}

int32_t drawOrderProgressTotal(int32_t strokeCount) {
    const int64_t n = strokeCount;
    return static_cast<int32_t>(2 * n - (n * n) / 16384);
}

int64_t drawOrderProgressBase(int32_t strokeCount) {
    const int64_t n = strokeCount;
    return (n * n) / 16384;
}

int32_t buildDrawOrder(Allocator &memory, PaintSequence &drawing, Progress &progress) {
    DrawOrderCache &cache = drawing.drawOrder;
    const int32_t n = drawing.layout.strokeCount;

    if (cache.orderCount != n) {
        cache.orderValid = 0;
        cache.orderCount = n;
    }
    if (n <= 0 || !drawing.strokeTable) return HOST_ERR_OUT_OF_MEMORY;

    const uint64_t bytes = static_cast<uint64_t>(n) * sizeof(int32_t);
    if (!cache.order) {
        cache.order = memory.newHandle(bytes);
        if (!cache.order) return HOST_ERR_OUT_OF_MEMORY;
    } else if (memory.size(cache.order) != bytes) {
        memory.resize(&cache.order, bytes);
        if (!cache.order || memory.size(cache.order) != bytes) {
            if (cache.order) memory.dispose(cache.order);
            cache.order = nullptr;
            return HOST_ERR_OUT_OF_MEMORY;
        }
    }

    Locked<int32_t> order(memory, cache.order);
    Locked<const PaintStroke> strokes(memory, drawing.strokeTable);
    const int32_t result = fillDrawOrder(strokes.get(), n, order.get(), progress);
    if (result == 0) cache.orderValid = 1;
    return result;
}

int32_t drawOrderLookup(Allocator &memory, const DrawOrderCache &cache, int32_t position) {
    if (position < 0 || position >= cache.orderCount) return 0;
    if (!cache.order || cache.orderValid == 0) return position;
    return Locked<const int32_t>(memory, cache.order)[position];
}

}  // namespace pennaro
