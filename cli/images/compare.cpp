#include "cli/images/compare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace pennaro_cli {

namespace {

std::string shape(const RgbaImage &image) {
    return std::to_string(image.width) + "x" + std::to_string(image.height) + " " +
           std::to_string(image.depth) + "-bit";
}

double sampleDifference(double p, double q) {
    if (p == q || (std::isnan(p) && std::isnan(q))) return 0;
    const double d = std::fabs(p - q);
    return std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
}

template <class Sample>
double largestChannelDifference(const Sample *p, const Sample *q) {
    double largest = 0;
    for (int c = 0; c < 4; ++c) largest = std::max(largest, sampleDifference(double(p[c]), double(q[c])));
    return largest;
}

std::string rgba(const double *p) {
    std::ostringstream text;
    text << "(" << p[0] << "," << p[1] << "," << p[2] << "," << p[3] << ")";
    return text.str();
}

// The pixels of two images of one size, whatever their samples.
template <class Sample>
void compareSamples(int32_t width, int32_t height, const Sample *a, const Sample *b, double tolerance,
                    ImageComparison &result) {
    result.samples = int64_t(width) * height * 4;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 4;
            const Sample *p = a + at, *q = b + at;
            const double d = largestChannelDifference(p, q);
            if (d == 0) continue;
            for (int c = 0; c < 4; ++c) {
                const double e = sampleDifference(double(p[c]), double(q[c]));
                result.sumOfSquares += e * e;
            }
            result.pixelsBeyondTolerance += d > tolerance;
            if (result.differingPixels == 0) {
                result.firstX = x;
                result.firstY = y;
                std::copy(p, p + 4, result.firstA);
                std::copy(q, q + 4, result.firstB);
            }
            ++result.differingPixels;
            result.largestDifference = std::max(result.largestDifference, d);
        }
    }
}

}  // namespace

double ImageComparison::psnr() const {
    if (samples == 0 || sumOfSquares == 0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(double(peak) * double(peak) / (sumOfSquares / double(samples)));
}

ImageComparison compareImages(const RgbaImage &a, const RgbaImage &b, double tolerance) {
    ImageComparison result;
    if (a.width != b.width || a.height != b.height || a.depth != b.depth || a.scale != b.scale) {
        result.sameShape = false;
        result.shapeText = shape(a) + " vs " + shape(b);
        return result;
    }
    result.peak = a.scale == SampleScale::Effect ? (a.depth == 16 ? 32768 : 255) : a.depth == 16 ? 65535 : 255;
    compareSamples(a.width, a.height, a.samples.data(), b.samples.data(), tolerance, result);
    return result;
}

ImageComparison compareImages(const FloatImage &a, const FloatImage &b, double tolerance) {
    ImageComparison result;
    result.floating = true;
    result.peak = 1.0;
    if (a.width != b.width || a.height != b.height) {
        result.sameShape = false;
        result.shapeText = std::to_string(a.width) + "x" + std::to_string(a.height) + " vs " +
                           std::to_string(b.width) + "x" + std::to_string(b.height);
        return result;
    }
    compareSamples(a.width, a.height, a.samples.data(), b.samples.data(), tolerance, result);
    return result;
}

std::string describeComparison(const ImageComparison &result) {
    if (!result.sameShape) return "images differ in shape: " + result.shapeText;
    if (result.differingPixels == 0) return "identical";
    std::ostringstream text;
    text << result.differingPixels << " differing pixel" << (result.differingPixels == 1 ? "" : "s")
         << ", largest channel difference " << result.largestDifference << ", first at (" << result.firstX
         << ", " << result.firstY << "): RGBA " << rgba(result.firstA) << " vs " << rgba(result.firstB);
    return text.str();
}

RgbaImage makeDiffImage(const RgbaImage &a, const RgbaImage &b) {
    int32_t width = std::min(a.width, b.width), height = std::min(a.height, b.height);
    RgbaImage diff = makeImage(std::max(width, 1), std::max(height, 1), 8);
    // Differences are scaled against the full range of the samples compared.
    uint32_t full = (a.depth == 16 || b.depth == 16) ? 65535u : 255u;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint16_t *p = a.pixel(x, y);
            const uint16_t *q = b.pixel(x, y);
            uint16_t *out = diff.pixel(x, y);
            const double d = (a.depth == b.depth) ? largestChannelDifference(p, q) : 1.0;
            if (d == 0) {
                uint32_t grey = (uint32_t(p[0]) + p[1] + p[2]) / 3u;
                if (a.depth == 16) grey >>= 8;
                grey = 16u + grey * uint32_t(p[3] >> (a.depth == 16 ? 8 : 0)) / 255u / 4u;
                out[0] = out[1] = out[2] = uint16_t(grey);
            } else {
                const auto step = uint32_t(d);  // integer samples: whole differences
                out[0] = uint16_t(128u + std::min<uint32_t>(127u, (step * 127u + full - 1u) / full * 4u));
                out[1] = out[2] = 0;
            }
            out[3] = 255;
        }
    }
    return diff;
}

}  // namespace pennaro_cli
