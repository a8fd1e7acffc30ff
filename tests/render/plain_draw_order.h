// The draw order as its definition states it, for tests and benchmarks
// to hold the sorted build to: every round scans the whole table for the
// least (start time, id) pair above the previous pick; a round that finds
// nothing repeats the previous pick (stroke 0 before any pick); a progress
// report before every 256th round. Quadratic; never part of the product.
#pragma once

#include "format/records.h"
#include "render/draw_order.h"

namespace pennaro_plain {

inline int32_t drawOrderRounds(const pennaro::PaintStroke *strokes, int32_t n, int32_t *order,
                               pennaro::Progress &progress) {
    struct Key {
        float startTime;
        int32_t strokeId;
    };
    auto before = [](Key a, Key b) {
        return a.startTime < b.startTime || (a.startTime == b.startTime && a.strokeId < b.strokeId);
    };
    auto key = [strokes](int32_t k) { return Key{strokes[k].info.startTime, strokes[k].info.strokeId}; };
    Key previous{0.0f, -1};
    int32_t pick = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0 && i % 256 == 0) {
            const int32_t answer = progress.report(i, pennaro::drawOrderProgressTotal(n));
            if (answer != 0) return answer;
        }
        int32_t best = -1;
        for (int32_t k = 0; k < n; ++k)
            if (before(previous, key(k)) && (best < 0 || before(key(k), key(best)))) best = k;
        if (best >= 0) {
            pick = best;
            previous = key(best);
        }
        order[i] = pick;
    }
    return 0;
}

}  // namespace pennaro_plain
