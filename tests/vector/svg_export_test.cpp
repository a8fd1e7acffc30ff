// SVG export held to another renderer: librsvg's picture of the exported
// frame against the effect's render of the same frame.
#include <gtest/gtest.h>

#include "vector/vector_support.h"

namespace {

using pennaro_test::runTool;
using namespace vector_test;

std::string numbered(const char *prefix, int i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

constexpr int kWidth = 320, kHeight = 240;

Coverage exportAgainstRender(const pennaro_test::ScratchDir &dir, const nlohmann::ordered_json &drawing,
                             const std::vector<std::string> &frameOptions, const std::string &name) {
    const std::string json = dir / (name + ".json");
    writeText(json, drawing.dump());
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    std::vector<std::string> render = {"render", json, "--size", size, "-q", "-o", dir / (name + "-effect.png")};
    std::vector<std::string> exportSvg = {"export", json, "--size", size, "-q", "-o", dir / (name + ".svg")};
    for (size_t i = 0; i < frameOptions.size(); ++i) {
        render.push_back(frameOptions[i] == "--frame" ? "--frames" : frameOptions[i]);
        exportSvg.push_back(frameOptions[i]);
    }
    const auto rendered = runTool(render);
    EXPECT_EQ(rendered.status, 0) << rendered.output;
    const auto exported = runTool(exportSvg);
    EXPECT_EQ(exported.status, 0) << exported.output;
    EXPECT_EQ(shell("rsvg-convert -o " + pennaro_test::shellQuote(dir / (name + "-svg.png")) + " " +
                    pennaro_test::shellQuote(dir / (name + ".svg"))),
              0);
    return compareCoverage(pennaro_cli::readPng(dir / (name + "-effect.png")),
                           pennaro_cli::readPng(dir / (name + "-svg.png")));
}

// Twenty random drawings of round and square brushes, half of them caught
// halfway through "Animate Strokes": the covered area agrees.
TEST(SvgExport, CoverageMatchesTheRender) {
    pennaro_test::ScratchDir dir("svg-export");
    std::mt19937 rng(2026);
    double worst = 1.0;
    for (int i = 0; i < 20; ++i) {
        const auto drawing = randomDrawing(rng, 2 + i % 5, kWidth, kHeight, {1, 3});
        const std::vector<std::string> frame =
            i % 2 ? std::vector<std::string>{"--playback-mode", "4", "--frame", std::to_string(5 + i)}
                  : std::vector<std::string>{"--playback-mode", "1", "--frame", "0"};
        const Coverage c = exportAgainstRender(dir, drawing, frame, numbered("d", i));
        EXPECT_GE(c.iou, 0.95) << "drawing " << i;
        EXPECT_GT(c.covered, 500) << "drawing " << i;
        worst = std::min(worst, c.iou);
    }
    std::printf("lowest coverage IoU of 20 drawings: %.4f\n", worst);
}

// Soft brushes, and round brushes with soft rims: the alpha itself agrees.
TEST(SvgExport, SoftAlphaMatchesTheRender) {
    pennaro_test::ScratchDir dir("svg-export-soft");
    std::mt19937 rng(7);
    double worst = 0.0;
    for (int i = 0; i < 6; ++i) {
        const auto drawing = randomDrawing(rng, 3, kWidth, kHeight, {2});
        const Coverage c = exportAgainstRender(dir, drawing, {"--playback-mode", "1", "--frame", "0"}, numbered("s", i));
        EXPECT_LE(c.meanDiff, 0.05) << "drawing " << i;
        worst = std::max(worst, c.meanDiff);
    }
    std::printf("largest mean alpha difference of 6 soft drawings: %.4f\n", worst);
}

// An erasing stroke cuts what is below it out of the picture.
TEST(SvgExport, ErasingStrokeMasksWhatIsBelow) {
    pennaro_test::ScratchDir dir("svg-export-erase");
    nlohmann::ordered_json strokes = nlohmann::ordered_json::array();
    auto line = [](double y0, double y1) {
        return nlohmann::ordered_json::array({{0.0, 0.1, y0, 1.0}, {0.5, 0.9, y1, 1.0}});
    };
    strokes.push_back({{"strokeId", 0}, {"startTime", 0.0}, {"duration", 0.5},
                       {"brush", brushJson(1, 0, 0, 1, 30, 1, 0, 0)}, {"drawCount", 0}, {"selected", 0},
                       {"points", line(0.5, 0.5)}});
    strokes.push_back({{"strokeId", 1}, {"startTime", 1.0}, {"duration", 0.5},
                       {"brush", brushJson(0, 0, 0, 1, 12, 9, 0, 0)}, {"drawCount", 0}, {"selected", 0},
                       {"points", line(0.2, 0.8)}});
    const Coverage c = exportAgainstRender(dir, drawingWith(strokes), {"--playback-mode", "1", "--frame", "0"}, "erase");
    EXPECT_GE(c.iou, 0.95);
    EXPECT_LE(c.meanDiff, 0.05);
    std::printf("erasing: IoU %.4f, mean alpha difference %.4f\n", c.iou, c.meanDiff);
}

}  // namespace
