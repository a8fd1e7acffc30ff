// Plain forms of the operations the effect does the fast way, written as
// literally as the arithmetic is defined. The tests hold the fast paths to
// them and the benchmarks time them; they are never part of the product.
#pragma once

#include <cstdint>

#include "drawing/records.h"
#include "render/draw_order.h"

namespace pennaro_plain {

// Draw order by selection rounds: every round scans the whole table for the
// least (start time, id) pair above the previous pick; a round that finds
// nothing repeats the previous pick (stroke 0 before any pick). Quadratic.
inline int32_t drawOrderRounds(HostInData *in, const pennaro::PaintStroke *strokes, int32_t n,
                               int32_t *order) {
    struct Key {
        float startTime;
        int32_t strokeId;
    };
    auto before = [](Key a, Key b) {
        return a.startTime < b.startTime || (a.startTime == b.startTime && a.strokeId < b.strokeId);
    };
    const int32_t progressTotal = pennaro::drawOrderProgressTotal(n);
    Key previous{0.0f, -1};
    int32_t pick = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0 && i % 256 == 0) {
            const int32_t answer = in->progress ? in->progress(in->effectRef, i, progressTotal) : 0;
            if (answer != 0) return answer;
        }
        int32_t best = -1;
        for (int32_t k = 0; k < n; ++k) {
            const Key key{strokes[k].startTime, strokes[k].strokeId};
            if (!before(previous, key)) continue;
            if (best < 0 || before(key, Key{strokes[best].startTime, strokes[best].strokeId})) best = k;
        }
        if (best >= 0) {
            pick = best;
            previous = Key{strokes[best].startTime, strokes[best].strokeId};
        }
        order[i] = pick;
    }
    return 0;
}

}  // namespace pennaro_plain
