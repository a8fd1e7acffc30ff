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

namespace pennaro {

namespace {

// Float comparison as the rounds make it: -0 and +0 are one start time, and
// a NaN start time is never above anything, so such strokes are never drawn.
bool keyBefore(const PaintStroke &a, const PaintStroke &b) {
    return a.startTime < b.startTime || (a.startTime == b.startTime && a.strokeId < b.strokeId);
}

bool reachable(const PaintStroke &s) {
    return 0.0f < s.startTime || (0.0f == s.startTime && -1 < s.strokeId);
}

}  // namespace

int32_t fillDrawOrder(HostInData *in, const PaintStroke *strokes, int32_t n, int32_t *order) {
    // Sorted in place in the order array itself, so the build needs no
    // memory beyond what the host gave: the reachable indices, by pair and
    // then by table index (the rounds take the first stroke holding a pair
    // and never reach the others), duplicates of a pair dropped.
    int32_t reached = 0;
    for (int32_t k = 0; k < n; ++k)
        if (reachable(strokes[k])) order[reached++] = k;
    std::sort(order, order + reached, [strokes](int32_t a, int32_t b) {
        if (keyBefore(strokes[a], strokes[b])) return true;
        if (keyBefore(strokes[b], strokes[a])) return false;
        return a < b;
    });
    int32_t distinct = 0;
    for (int32_t j = 0; j < reached; ++j)
        if (distinct == 0 || keyBefore(strokes[order[distinct - 1]], strokes[order[j]])) order[distinct++] = order[j];
    const int32_t last = distinct > 0 ? order[distinct - 1] : 0;
    for (int32_t i = distinct; i < n; ++i) order[i] = last;

    // The host sees the progress calls of the rounds: one before every
    // 256th round. An order stopped by the host is not used.
    const int32_t progressTotal = drawOrderProgressTotal(n);
    for (int32_t i = 256; i < n; i += 256) {
        const int32_t answer = in->progress ? in->progress(in->effectRef, i, progressTotal) : 0;
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

int32_t buildDrawOrder(HostInData *in) {
    const HostUtilities *utils = in->utils;
    HostHandle sequenceHandle = in->sequenceData;
    auto *sequence = static_cast<PaintSequence *>(utils->lockHandle(sequenceHandle));
    DrawOrderCache &cache = sequence->drawOrder;
    const int32_t n = sequence->strokeCount;

    if (cache.orderCount != n) {
        cache.orderValid = 0;
        cache.orderCount = n;
    }
    if (n <= 0 || !sequence->strokeTable) {
        utils->unlockHandle(sequenceHandle);
        return 4;
    }

    const uint64_t bytes = static_cast<uint64_t>(n) * sizeof(int32_t);
    if (!cache.order) {
        cache.order = utils->newHandle(bytes);
        if (!cache.order) {
            utils->unlockHandle(sequenceHandle);
            return 4;
        }
    } else if (utils->getHandleSize(cache.order) != bytes) {
        utils->resizeHandle(bytes, &cache.order);
        if (!cache.order || utils->getHandleSize(cache.order) != bytes) {
            if (cache.order) utils->disposeHandle(cache.order);
            cache.order = nullptr;
            utils->unlockHandle(sequenceHandle);
            return 4;
        }
    }

    auto *order = static_cast<int32_t *>(utils->lockHandle(cache.order));
    HostHandle table = sequence->strokeTable;
    const auto *strokes = static_cast<const PaintStroke *>(utils->lockHandle(table));
    const int32_t result = fillDrawOrder(in, strokes, n, order);
    utils->unlockHandle(cache.order);
    utils->unlockHandle(table);
    if (result == 0) cache.orderValid = 1;
    utils->unlockHandle(sequenceHandle);
    return result;
}

int32_t drawOrderLookup(const HostInData *in, const DrawOrderCache &cache, int32_t position) {
    if (position < 0 || position >= cache.orderCount) return 0;
    if (!cache.order || cache.orderValid == 0) return position;
    const auto *order = static_cast<const int32_t *>(in->utils->lockHandle(cache.order));
    const int32_t index = order[position];
    in->utils->unlockHandle(cache.order);
    return index;
}

}  // namespace pennaro
