// Lottie export held to rlottie: the reveal at a quarter, half and three
// quarters of the animation and at its end, against "Animate Strokes"
// renders of the same frames.
#include <gtest/gtest.h>
#include <rlottie.h>

#include <sstream>

#include "vector/vector_support.h"

namespace {

using pennaro_test::runTool;
using namespace vector_test;

constexpr int kWidth = 320, kHeight = 240;

// A frame of the animation as rlottie draws it (premultiplied ARGB), as
// straight RGBA.
pennaro_cli::RgbaImage rlottieFrame(rlottie::Animation &animation, size_t frame) {
    std::vector<uint32_t> buffer(size_t(kWidth) * kHeight, 0);
    rlottie::Surface surface(buffer.data(), kWidth, kHeight, kWidth * 4);
    animation.renderSync(frame, surface);
    pennaro_cli::RgbaImage image = pennaro_cli::makeImage(kWidth, kHeight, 8);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) image.pixel(x, y)[3] = buffer[size_t(y) * kWidth + x] >> 24;
    return image;
}

std::string frameName(const pennaro_test::ScratchDir &dir, const std::string &stem, int frame) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", frame);
    return dir / (stem + "_" + buf + ".png");
}

TEST(LottieExport, RevealFollowsAnimateStrokes) {
    pennaro_test::ScratchDir dir("lottie-export");
    std::mt19937 rng(11);
    double worstPart = 1, worstEnd = 1;
    for (int i = 0; i < 6; ++i) {
        const std::string stem = "d" + std::to_string(i);
        const std::string json = dir / (stem + ".json"), lottie = dir / (stem + ".lottie.json");
        writeText(json, randomDrawing(rng, 2 + i % 3, kWidth, kHeight, {1, 3}).dump());
        const auto exported = runTool({"export", json, "-o", lottie, "--size", "320x240", "-q"});
        ASSERT_EQ(exported.status, 0) << exported.output;
        auto animation = rlottie::Animation::loadFromFile(lottie);
        ASSERT_TRUE(animation) << "rlottie cannot read " << lottie;
        const int last = static_cast<int>(animation->totalFrame()) - 1;
        const int frames[4] = {last / 4, last / 2, 3 * last / 4, last};
        std::ostringstream list;
        list << frames[0] << "," << frames[1] << "," << frames[2] << "," << frames[3];
        const auto rendered = runTool({"render", json, "--playback-mode", "4", "--frames", list.str(), "--size",
                                       "320x240", "-q", "-o", dir / (stem + "_####.png")});
        ASSERT_EQ(rendered.status, 0) << rendered.output;
        for (int k = 0; k < 4; ++k) {
            const double iou = plainIou(pennaro_cli::readPng(frameName(dir, stem, frames[k])),
                                        rlottieFrame(*animation, static_cast<size_t>(frames[k])));
            EXPECT_GE(iou, k < 3 ? 0.90 : 0.95) << "drawing " << i << ", frame " << frames[k];
            (k < 3 ? worstPart : worstEnd) = std::min(k < 3 ? worstPart : worstEnd, iou);
        }
    }
    std::printf("rlottie against the render: lowest IoU %.4f during the reveal, %.4f at its end\n", worstPart,
                worstEnd);
}

}  // namespace
