// The one comparison of two frames used everywhere: by `pennaro compare`, the
// golden images and the reference frames. Samples are compared as the images
// hold them (on the file's or the effect's scale, which both must share),
// all four channels, colour included where alpha is 0.
#pragma once

#include <cstdint>
#include <string>

#include "cli/images/png.h"

namespace pennaro_cli {

struct ImageComparison {
    bool sameShape = true;           // width, height and depth agree
    int64_t differingPixels = 0;     // pixels with any channel differing
    bool floating = false;           // values of two float files, as stored
    double largestDifference = 0;    // largest difference of one channel
    int32_t firstX = -1, firstY = -1;  // first differing pixel in row order
    double firstA[4] = {}, firstB[4] = {};  // its RGBA samples in A and B
    std::string shapeText;           // why the shapes differ
    int64_t pixelsBeyondTolerance = 0;  // pixels with a channel differing by more than the tolerance
    double sumOfSquares = 0;         // of every channel's difference
    int64_t samples = 0;             // channels compared
    double peak = 255;               // the largest sample: 255, 65535, 32768 (the effect's scale) or 1.0

    bool identical() const { return sameShape && differingPixels == 0; }
    bool withinTolerance() const { return sameShape && pixelsBeyondTolerance == 0; }
    // Peak signal-to-noise ratio in dB over all four channels; infinite
    // for identical images.
    double psnr() const;
};

// `tolerance` only decides pixelsBeyondTolerance; the rest counts every
// difference.
ImageComparison compareImages(const RgbaImage &a, const RgbaImage &b, double tolerance = 0);
// Two floating-point images value for value (colour premultiplied, as
// stored); a NaN equals a NaN. PSNR is against a peak of 1.0.
ImageComparison compareImages(const FloatImage &a, const FloatImage &b, double tolerance = 0);

// A one- or two-line summary fit for a terminal or a test failure.
std::string describeComparison(const ImageComparison &result);

// An 8-bit picture of the differences, the size of the smaller of the two in
// each direction: equal pixels as a faint grey of A, differing pixels in red
// with brightness growing with the largest channel difference.
RgbaImage makeDiffImage(const RgbaImage &a, const RgbaImage &b);

}  // namespace pennaro_cli
