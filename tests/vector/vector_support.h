// What the open-format tests share: random drawings, other renderers run
// as a user runs them, and coverage compared the way the checks count it.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/run_tool.h"
#include "cli/images/png.h"

namespace vector_test {

// Runs a shell command line; its exit status.
inline int shell(const std::string &command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline void writeText(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline nlohmann::ordered_json brushJson(double r, double g, double b, double opacity, double size, int mode,
                                        double softness, int pressureFlags) {
    return {{"red", r}, {"green", g}, {"blue", b}, {"opacity", opacity}, {"size", size},
            {"brushMode", mode}, {"softness", softness}, {"pressureFlags", pressureFlags}};
}

// The examples' demo drawing with its strokes replaced.
inline nlohmann::ordered_json drawingWith(const nlohmann::ordered_json &strokes) {
    std::ifstream in(std::string(PENNARO_SOURCE_DIR) + "/examples/demo.json");
    nlohmann::ordered_json d = nlohmann::ordered_json::parse(in);
    d["strokes"] = strokes;
    return d;
}

// A random drawing of `count` strokes on a layer of width x height: brush
// kinds from `kinds` (1 round, 2 soft, 3 square), radius 4 to 24 pixels,
// pressure on size, opacity 1, wandering paths with sample times.
inline nlohmann::ordered_json randomDrawing(std::mt19937 &rng, int count, int width, int height,
                                            const std::vector<int> &kinds) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    nlohmann::ordered_json strokes = nlohmann::ordered_json::array();
    double start = 0.0;
    for (int s = 0; s < count; ++s) {
        const int kind = kinds[static_cast<size_t>(rng() % kinds.size())];
        const double size = 4.0 + 20.0 * unit(rng);
        const double softness = kind == 2 ? 0.5 : 0.3 * unit(rng);
        nlohmann::ordered_json points = nlohmann::ordered_json::array();
        double x = 0.1 + 0.8 * unit(rng), y = 0.1 + 0.8 * unit(rng), angle = 6.283 * unit(rng), t = 0.0;
        const int n = 3 + static_cast<int>(rng() % 30);
        for (int i = 0; i < n; ++i) {
            points.push_back({t, x, y, 0.3 + 0.7 * unit(rng)});
            angle += unit(rng) - 0.5;
            x = std::clamp(x + 0.04 * std::cos(angle), 0.02, 0.98);
            y = std::clamp(y + 0.04 * std::sin(angle) * width / height, 0.02, 0.98);
            t += 0.02 + 0.05 * unit(rng);
        }
        strokes.push_back({{"strokeId", s}, {"startTime", start}, {"duration", t},
                           {"brush", brushJson(unit(rng), unit(rng), unit(rng), 1.0, size, kind, softness, 1)},
                           {"drawCount", 0}, {"selected", 0}, {"points", points}});
        start += 0.2 + 0.5 * unit(rng);
    }
    return drawingWith(strokes);
}

struct Coverage {
    double iou;       // of alpha > 50 %, outside a 1-pixel band around either edge
    double meanDiff;  // mean alpha difference over pixels either image covers
    long covered;     // pixels of the union counted
};

inline Coverage compareCoverage(const pennaro_cli::RgbaImage &a, const pennaro_cli::RgbaImage &b) {
    const int w = a.width, h = a.height;
    const double fullA = a.depth == 16 ? 65535.0 : 255.0, fullB = b.depth == 16 ? 65535.0 : 255.0;
    auto alpha = [](const pennaro_cli::RgbaImage &img, double full, int x, int y) { return img.pixel(x, y)[3] / full; };
    std::vector<uint8_t> ma(size_t(w) * h), mb(size_t(w) * h);
    double diff = 0;
    long touched = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double va = alpha(a, fullA, x, y), vb = alpha(b, fullB, x, y);
            ma[size_t(y) * w + x] = va > 0.5;
            mb[size_t(y) * w + x] = vb > 0.5;
            if (va > 0 || vb > 0) {
                diff += std::fabs(va - vb);
                ++touched;
            }
        }
    long inter = 0, uni = 0;
    auto edge = [&](const std::vector<uint8_t> &m, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int u = std::clamp(x + dx, 0, w - 1), v = std::clamp(y + dy, 0, h - 1);
                if (m[size_t(v) * w + u] != m[size_t(y) * w + x]) return true;
            }
        return false;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (edge(ma, x, y) || edge(mb, x, y)) continue;
            const bool pa = ma[size_t(y) * w + x], pb = mb[size_t(y) * w + x];
            inter += pa && pb;
            uni += pa || pb;
        }
    return {uni == 0 ? 1.0 : double(inter) / double(uni), touched == 0 ? 0.0 : diff / double(touched), uni};
}

// Intersection over union of alpha > 50 %, every pixel counted.
inline double plainIou(const pennaro_cli::RgbaImage &a, const pennaro_cli::RgbaImage &b) {
    long inter = 0, uni = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const bool pa = a.pixel(x, y)[3] > 127, pb = b.pixel(x, y)[3] > 127;
            inter += pa && pb;
            uni += pa || pb;
        }
    return uni ? double(inter) / double(uni) : 1.0;
}

}  // namespace vector_test
