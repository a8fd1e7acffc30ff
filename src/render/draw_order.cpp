// Draw order: strokes are drawn by start time, and strokes that start
// together by ascending id, whatever their place in the stroke table.
//
// The order is built by selection rounds: each round picks the least
// (start time, id) pair above the previous pick. That is quadratic in the
// stroke count, so the build reports progress and the render gives it a
// share of the progress bar.
#include "render/draw_order.h"

namespace pennaro {

namespace {

struct StrokeKey {
    float startTime;
    int32_t strokeId;
};

bool keyBefore(const StrokeKey &a, const StrokeKey &b) {
    return a.startTime < b.startTime || (a.startTime == b.startTime && a.strokeId < b.strokeId);
}

StrokeKey keyOf(const PaintStroke &stroke) { return {stroke.startTime, stroke.strokeId}; }

// Fills order[0..n-1]. A round that finds nothing above the previous pick
// repeats that pick (stroke 0 when nothing has been picked yet), so every
// position holds a valid index; strokes no round reaches (a negative start
// time, or a pair shared with another stroke) are simply not drawn, and a
// repeated stroke is drawn once per position it holds.
int32_t fillOrder(HostInData *in, const PaintStroke *strokes, int32_t n, int32_t *order) {
    const int32_t progressTotal = drawOrderProgressTotal(n);
    StrokeKey previous{0.0f, -1};
    int32_t pick = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0 && i % 256 == 0) {
            const int32_t answer = in->progress ? in->progress(in->effectRef, i, progressTotal) : 0;
            if (answer != 0) return answer;
        }
        int32_t best = -1;
        for (int32_t k = 0; k < n; ++k) {
            const StrokeKey key = keyOf(strokes[k]);
            if (!keyBefore(previous, key)) continue;
            if (best < 0 || keyBefore(key, keyOf(strokes[best]))) best = k;
        }
        if (best >= 0) {
            pick = best;
            previous = keyOf(strokes[best]);
        }
        order[i] = pick;
    }
    return 0;
}

}  // namespace

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
    const int32_t result = fillOrder(in, strokes, n, order);
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
