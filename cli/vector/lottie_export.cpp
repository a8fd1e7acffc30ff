#include "cli/vector/lottie_export.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "catalog/params.h"

namespace pennaro_cli::vector {
namespace {

using Json = nlohmann::ordered_json;

double r2(double v) { return std::round(v * 100.0) / 100.0; }
double r3(double v) { return std::round(v * 1000.0) / 1000.0; }

Json still(const Json &value) { return {{"a", 0}, {"k", value}}; }

Json identityTransform() {
    return {{"o", still(100)}, {"r", still(0)}, {"p", still({0, 0, 0})}, {"a", still({0, 0, 0})},
            {"s", still({100, 100, 100})}};
}

Json groupTransform() {
    return {{"ty", "tr"}, {"p", still({0, 0})}, {"a", still({0, 0})}, {"s", still({100, 100})},
            {"r", still(0)}, {"o", still(100)}, {"sk", still(0)}, {"sa", still(0)}};
}

// The radius at which a dab covers half: the outline of a stroke is the
// union of these.
double halfCoverageRadius(const VectorDab &d) {
    const double rx = static_cast<double>(d.radius) * d.aspect;
    if (d.kind == 1) {
        const double f = std::max(1.0, rx * d.softness);
        const double outer = rx + f, inner = rx - f;
        const double q = inner >= 0 ? inner * inner : -(inner * inner);
        const double o2 = outer * outer;
        return std::sqrt(std::max(0.0, o2 - std::cbrt(0.5) * (o2 - q)));
    }
    if (d.kind == 2) return rx * std::sqrt(1.0 - std::cbrt(0.5));  // where the falloff halves
    const double ro = rx + 0.7, ri = (1.0 - d.softness) * rx - 0.7;
    return std::max(0.0, ri) + std::sqrt(0.5) * (ro - ri);
}

// The coverage of one dab at distance `dist` from its centre (alpha 1).
double dabCoverage(const VectorDab &d, double dist) {
    const double rx = static_cast<double>(d.radius) * d.aspect;
    const double d2 = dist * dist;
    if (d.kind == 1) {
        const double f = std::max(1.0, rx * d.softness);
        const double outer = rx + f, inner = rx - f;
        const double q = inner >= 0 ? inner * inner : -(inner * inner);
        if (d2 <= q) return 1;
        if (d2 >= outer * outer) return 0;
        const double u = (outer * outer - d2) / (outer * outer - q);
        return u * u * u;
    }
    if (d.kind == 2) {
        if (d2 >= rx * rx) return 0;
        const double u = 1 - d2 / (rx * rx);
        return 0.5 * u * u * u;
    }
    return 0;
}

// Where a run of such dabs, `spacing` apart, covers half: dabs unite, so a
// line of them reaches further than one alone. Squares merge by maximum
// and keep their own outline.
double lineHalfCoverage(const VectorDab &d, double spacing) {
    const double alone = halfCoverageRadius(d);
    if (d.kind == 3 || !(spacing > 0.05)) return alone;
    const double reach = static_cast<double>(d.radius) * d.aspect * 2 + 2;
    const int k = static_cast<int>(std::min(200.0, reach / spacing)) + 1;
    double y = alone;
    for (; y < reach; y += 0.02) {
        double clear = 1;
        for (int i = -k; i <= k; ++i) clear *= 1 - dabCoverage(d, std::hypot(y, i * spacing));
        if (1 - clear < 0.5) break;
    }
    return std::max(alone, y);
}

Json dabShape(const VectorDab &d, double r) {
    const double ry = r / d.aspect;
    if (d.kind == 3) {
        const double rx = static_cast<double>(d.radius) * d.aspect;
        const double ro = rx + 0.7, ri = (1.0 - d.softness) * rx - 0.7;
        const double corner = std::sqrt(0.5) * (ro - ri);
        return {{"ty", "rc"}, {"d", 1}, {"p", still({r2(d.x), r2(d.y)})}, {"s", still({r2(2 * r), r2(2 * ry)})},
                {"r", still(r2(ri > 0 ? corner : std::max(0.0, corner + ri)))}};
    }
    return {{"ty", "el"}, {"d", 1}, {"p", still({r2(d.x), r2(d.y)})}, {"s", still({r2(2 * r), r2(2 * ry)})}};
}

}  // namespace

LottieResult writeLottie(const VectorDrawing &drawing, const LottieTiming &timing) {
    LottieResult result;
    const double fps = static_cast<double>(timing.timeScale) / static_cast<double>(timing.timeStep);
    // The animation ends at the first frame whose drawing time has reached
    // every stroke's last sample.
    double end = 0;
    for (const VectorStroke &s : drawing.strokes) end = std::max(end, s.endTime);
    int32_t frames = 1;
    while (frames < 1000000 &&
           frameDrawingTime(pennaro::PLAYBACK_ANIMATE, timing.playbackSpeed, frames - 1, timing.timeScale,
                            timing.timeStep) <= end)
        ++frames;
    result.frames = frames;
    std::vector<double> drawingTimes(static_cast<size_t>(frames));
    for (int32_t f = 0; f < frames; ++f)
        drawingTimes[static_cast<size_t>(f)] =
            frameDrawingTime(pennaro::PLAYBACK_ANIMATE, timing.playbackSpeed, f, timing.timeScale, timing.timeStep);

    Json layers = Json::array();
    std::map<std::string, double> radii;
    int index = 1;
    // Lottie lists layers top first: the last stroke drawn comes first.
    for (auto it = drawing.strokes.rbegin(); it != drawing.strokes.rend(); ++it) {
        const VectorStroke &s = *it;
        if (s.erases()) {
            ++result.erasingLeftOut;
            continue;
        }
        // Each dab appears at the first frame whose drawing time has
        // reached it, as the walk of "Animate Strokes" stamps it: its size
        // is held at nothing until then.
        Json dabShapes = Json::array();
        for (const VectorDab &d : s.dabs) {
            const auto reached = [&](int32_t f) {
                const double age = drawingTimes[static_cast<size_t>(f)] - s.startTime;
                return age > 0 && static_cast<float>(age) >= d.time;
            };
            int32_t lo = 0, hi = frames - 1;
            while (lo < hi) {
                const int32_t mid = lo + (hi - lo) / 2;
                if (reached(mid)) hi = mid;
                else lo = mid + 1;
            }
            // The spacing to the nearest neighbour in the walk.
            const size_t at = static_cast<size_t>(&d - s.dabs.data());
            double spacing = 0;
            for (size_t n : {at - 1, at + 1})
                if (n < s.dabs.size()) {
                    const double gap = std::hypot(s.dabs[n].x - d.x, s.dabs[n].y - d.y);
                    spacing = spacing == 0 ? gap : std::min(spacing, gap);
                }
            const double key = std::round(spacing * 20) / 20;
            const std::string cacheKey = std::to_string(d.radius) + "/" + std::to_string(d.softness) + "/" +
                                         std::to_string(d.kind) + "/" + std::to_string(key);
            auto cached = radii.find(cacheKey);
            if (cached == radii.end()) cached = radii.emplace(cacheKey, lineHalfCoverage(d, key)).first;
            Json shape = dabShape(d, cached->second);
            if (lo > 0) {
                const Json full = shape["s"]["k"];
                shape["s"] = {{"a", 1},
                              {"k", Json::array({Json{{"t", 0}, {"s", {0, 0}}, {"h", 1}}, Json{{"t", lo}, {"s", full}}})}};
            }
            dabShapes.push_back(std::move(shape));
        }
        const double rgb[3] = {s.rgb[0] / 255.0, s.rgb[1] / 255.0, s.rgb[2] / 255.0};
        dabShapes.push_back({{"ty", "fl"}, {"c", still({r3(rgb[0]), r3(rgb[1]), r3(rgb[2]), 1})},
                             {"o", still(100)}, {"r", 1}});
        dabShapes.push_back(groupTransform());
        Json content = identityTransform();
        // Round strokes take their opacity after uniting their dabs, as
        // does the layer; the others carry it in each dab.
        content["o"] = still(r2(100.0 * (s.kind() == 2 ? s.opacity / 2 : s.opacity)));
        const std::string name = "stroke " + std::to_string(s.index);
        layers.push_back({{"ddd", 0}, {"ind", index++}, {"ty", 4}, {"nm", name}, {"sr", 1}, {"ks", content},
                          {"ao", 0}, {"shapes", Json::array({Json{{"ty", "gr"}, {"it", dabShapes}}})},
                          {"ip", 0}, {"op", frames}, {"st", 0}, {"bm", 0}});
    }
    const Json doc = {{"v", "5.7.4"}, {"fr", fps}, {"ip", 0}, {"op", frames}, {"w", drawing.width},
                      {"h", drawing.height}, {"nm", "pennaro drawing"}, {"ddd", 0}, {"assets", Json::array()},
                      {"layers", layers}};
    result.json = doc.dump();
    return result;
}

}  // namespace pennaro_cli::vector
