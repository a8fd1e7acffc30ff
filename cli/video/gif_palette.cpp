#include "cli/video/gif_palette.h"

#include <algorithm>
#include <array>

namespace pennaro_cli {
namespace {

constexpr int BITS = 5, BINS = 1 << (3 * BITS);

struct Bin {
    uint64_t count = 0, sum[3] = {0, 0, 0};
};

int channelOf(int bin, int c) { return (bin >> (BITS * (2 - c))) & ((1 << BITS) - 1); }

}  // namespace

GifPalette makeGifPalette(const std::vector<std::vector<uint8_t>> &frames) {
    std::vector<Bin> bins(BINS);
    for (const auto &rgb : frames)
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            const int bin = (rgb[i] >> (8 - BITS)) << (2 * BITS) | (rgb[i + 1] >> (8 - BITS)) << BITS | rgb[i + 2] >> (8 - BITS);
            Bin &b = bins[size_t(bin)];
            ++b.count;
            for (int c = 0; c < 3; ++c) b.sum[c] += rgb[i + size_t(c)];
        }
    std::vector<int> used;
    for (int i = 0; i < BINS; ++i)
        if (bins[size_t(i)].count) used.push_back(i);

    // Boxes of bins, split at the weighted median of their widest channel
    // until there are 256 or none can be split.
    struct Box {
        size_t begin, end;
        uint64_t count;
        int widest, range;
    };
    auto describe = [&](size_t begin, size_t end) {
        Box box{begin, end, 0, 0, -1};
        std::array<int, 3> low{255, 255, 255}, high{0, 0, 0};
        for (size_t i = begin; i < end; ++i) {
            box.count += bins[size_t(used[i])].count;
            for (int c = 0; c < 3; ++c) {
                low[size_t(c)] = std::min(low[size_t(c)], channelOf(used[i], c));
                high[size_t(c)] = std::max(high[size_t(c)], channelOf(used[i], c));
            }
        }
        for (int c = 0; c < 3; ++c)
            if (high[size_t(c)] - low[size_t(c)] > box.range) box.range = high[size_t(c)] - low[size_t(c)], box.widest = c;
        return box;
    };
    std::vector<Box> boxes;
    if (!used.empty()) boxes.push_back(describe(0, used.size()));
    while (boxes.size() < 256) {
        auto pick = std::max_element(boxes.begin(), boxes.end(), [](const Box &a, const Box &b) {
            return (a.range > 0 ? a.count * uint64_t(a.range) : 0) < (b.range > 0 ? b.count * uint64_t(b.range) : 0);
        });
        if (pick == boxes.end() || pick->range == 0) break;
        const Box box = *pick;
        std::sort(used.begin() + long(box.begin), used.begin() + long(box.end),
                  [&](int a, int b) { return channelOf(a, box.widest) < channelOf(b, box.widest); });
        // Both halves keep at least one bin.
        size_t split = box.begin + 1;
        uint64_t half = bins[size_t(used[box.begin])].count;
        while (split + 1 < box.end && half * 2 < box.count) half += bins[size_t(used[split++])].count;
        *pick = describe(box.begin, split);
        boxes.push_back(describe(split, box.end));
    }

    GifPalette palette;
    for (const Box &box : boxes) {
        uint64_t sum[3] = {0, 0, 0};
        for (size_t i = box.begin; i < box.end; ++i)
            for (int c = 0; c < 3; ++c) sum[c] += bins[size_t(used[i])].sum[c];
        uint32_t colour = 0xFF000000u;
        for (int c = 0; c < 3; ++c) colour |= uint32_t((sum[c] + box.count / 2) / box.count) << (8 * (2 - c));
        palette.colours.push_back(colour);
    }
    if (palette.colours.empty()) palette.colours.push_back(0xFF000000u);
    palette.nearest.assign(size_t(1) << 18, -1);
    return palette;
}

uint8_t GifPalette::indexOf(const uint8_t *rgb) const {
    const size_t bin = size_t(rgb[0] >> 2) << 12 | size_t(rgb[1] >> 2) << 6 | size_t(rgb[2] >> 2);
    int16_t &found = nearest[bin];
    if (found < 0) {
        const int centre[3] = {(rgb[0] & ~3) + 2, (rgb[1] & ~3) + 2, (rgb[2] & ~3) + 2};
        int best = 0;
        int64_t bestDistance = INT64_MAX;
        for (size_t i = 0; i < colours.size(); ++i) {
            int64_t distance = 0;
            for (int c = 0; c < 3; ++c) {
                const int d = int((colours[i] >> (8 * (2 - c))) & 0xFF) - centre[c];
                distance += int64_t(d) * d;
            }
            if (distance < bestDistance) bestDistance = distance, best = int(i);
        }
        found = int16_t(best);
    }
    return uint8_t(found);
}

}  // namespace pennaro_cli
