// SVG import: a hand-made logo drawn by the effect against librsvg's
// picture of the same file, its timing, and malformed files refused within
// bounds.
#include <gtest/gtest.h>

#include <chrono>

#include "cli/core/errors.h"
#include "vector/vector_support.h"

namespace {

using pennaro_test::runTool;
using namespace vector_test;

const std::string kLogo = std::string(PENNARO_SOURCE_DIR) + "/tests/vector/data/logo.svg";

TEST(SvgImport, LogoFollowsTheArt) {
    pennaro_test::ScratchDir dir("svg-import");
    const auto imported = runTool({"import", kLogo, "-o", dir / "logo.bin"});
    ASSERT_EQ(imported.status, 0) << imported.output;
    EXPECT_TRUE(imported.says("on a 400x300 layer")) << imported.output;
    const auto rendered = runTool({"render", dir / "logo.bin", "--playback-mode", "1", "--frames", "0", "--size",
                                   "400x300", "-q", "-o", dir / "effect.png"});
    ASSERT_EQ(rendered.status, 0) << rendered.output;
    ASSERT_EQ(shell("rsvg-convert -o " + pennaro_test::shellQuote(dir / "art.png") + " " +
                    pennaro_test::shellQuote(kLogo)),
              0);
    const double iou = plainIou(pennaro_cli::readPng(dir / "effect.png"), pennaro_cli::readPng(dir / "art.png"));
    std::printf("imported logo against rsvg-convert: IoU %.4f\n", iou);
    EXPECT_GE(iou, 0.90);
}

// Strokes follow document order at the given speed, --gap apart; with
// --duration the whole drawing takes that long.
TEST(SvgImport, TimingFollowsDocumentOrder) {
    pennaro_test::ScratchDir dir("svg-import-timing");
    ASSERT_EQ(runTool({"import", kLogo, "-o", dir / "a.json", "--speed", "200", "--gap", "0.5", "-q"}).status, 0);
    std::ifstream in(dir / "a.json");
    const auto drawing = nlohmann::json::parse(in);
    const auto &strokes = drawing["strokes"];
    ASSERT_EQ(strokes.size(), 9u);
    double expectedStart = 0;
    for (const auto &s : strokes) {
        EXPECT_NEAR(s["startTime"].get<double>(), expectedStart, 1e-4);
        // The samples' own path length at 200 pixels per second.
        double length = 0;
        const auto &p = s["points"];
        for (size_t i = 1; i < p.size(); ++i)
            length += std::hypot((p[i][1].get<double>() - p[i - 1][1].get<double>()) * 400,
                                 (p[i][2].get<double>() - p[i - 1][2].get<double>()) * 300);
        EXPECT_NEAR(s["duration"].get<double>(), length / 200, 0.02);
        expectedStart += s["duration"].get<double>() + 0.5;
    }
    // The first stroke is the ring (document order): a frame in the middle
    // of the ring's drawing shows part of it and nothing of the quill.
    const double ringEnd = strokes[0]["duration"].get<double>();
    const int frame = static_cast<int>(ringEnd / 2 * 30);
    ASSERT_EQ(runTool({"render", dir / "a.json", "--playback-mode", "4", "--frames", std::to_string(frame), "--size",
                       "400x300", "-q", "-o", dir / "half.png"}).status, 0);
    const auto half = pennaro_cli::readPng(dir / "half.png");
    long ring = 0, quill = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) {
            if (half.pixel(x, y)[3] < 128) continue;
            const double dx = x - 120.0, dy = y - 140.0;  // the ring: centre (60,70) x 2, radius 80
            (std::fabs(std::hypot(dx, dy) - 80) < 6 ? ring : quill)++;
        }
    EXPECT_GT(ring, 300);
    EXPECT_EQ(quill, 0);

    ASSERT_EQ(runTool({"import", kLogo, "-o", dir / "b.json", "--duration", "10", "--gap", "0.25", "-q"}).status, 0);
    std::ifstream inB(dir / "b.json");
    const auto b = nlohmann::json::parse(inB);
    const auto &last = b["strokes"].back();
    EXPECT_NEAR(last["startTime"].get<double>() + last["duration"].get<double>(), 10.0, 1e-3);
}

// What cannot become a stroke is counted, not lost silently; --brush
// replaces the brush's fields it names.
TEST(SvgImport, LeftOutShapesAreCountedAndBrushApplies) {
    pennaro_test::ScratchDir dir("svg-import-notes");
    writeText(dir / "notes.svg",
              "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='80'>"
              "<rect width='100' height='80' fill='#eee'/><path d='M5 5 L90 5' stroke='red' stroke-dasharray='4'/>"
              "<text x='1' y='9'>hi</text><line x1='5' y1='40' x2='95' y2='40' stroke='blue' stroke-width='6'/></svg>");
    const auto run = runTool({"import", dir / "notes.svg", "-o", dir / "n.json", "--brush", "{\"brushMode\": 2, \"softness\": 0.5}"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(run.says("1 filled-only shapes, 1 dashed strokes, 1 text or image elements")) << run.output;
    std::ifstream in(dir / "n.json");
    const auto brush = nlohmann::json::parse(in)["strokes"][0]["brush"];
    EXPECT_EQ(brush["brushMode"], 2);
    EXPECT_EQ(brush["blue"], 1.0);
    EXPECT_EQ(runTool({"import", dir / "notes.svg", "-o", dir / "n.json", "--brush", "{\"colour\": 1}"}).status,
              pennaro_cli::exit_status::USAGE);
}

struct Malformed {
    const char *name;
    std::string text;
    const char *says;
};

std::vector<Malformed> malformedFiles() {
    const std::string head = "<svg xmlns='http://www.w3.org/2000/svg' width='50' height='50'>";
    auto path = [&](const std::string &d) { return head + "\n<path stroke='red' d='" + d + "'/></svg>"; };
    std::string deep = head;
    for (int i = 0; i < 10000; ++i) deep += "<g>";
    for (int i = 0; i < 10000; ++i) deep += "</g>";
    deep += "</svg>";
    std::string laughs = "<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY a 'hahahahahahahaha'>";
    for (char c = 'b'; c <= 'k'; ++c)
        laughs += std::string("<!ENTITY ") + c + " '" + std::string(10, '&') + "'>";
    laughs += "]><svg>&k;</svg>";
    std::string useBomb = head + "<defs><path id='p0' stroke='red' d='M0 0 L1 1'/>";
    for (int i = 1; i <= 12; ++i) {
        useBomb += "<g id='p" + std::to_string(i) + "'>";
        for (int j = 0; j < 10; ++j) useBomb += "<use href='#p" + std::to_string(i - 1) + "'/>";
        useBomb += "</g>";
    }
    useBomb += "</defs><use href='#p12'/></svg>";
    std::string huge = head + "<path stroke='red' d='M0 0";
    huge.reserve(huge.size() + 20000010);
    for (int i = 0; i < 10000000; ++i) huge += "h1";
    huge += "'/></svg>";
    return {
        {"unclosed-tag", head + "<path d='M0 0 L5 5'>", ":1: not well-formed XML"},
        {"not-xml", "hello, world", "not well-formed XML"},
        {"empty", "", "not well-formed XML"},
        {"not-svg", "<html><body/></html>", "not SVG"},
        {"huge-number", path("M 1e400 0 L 5 5"), ":2: <path>: path data: number out of range"},
        {"nan", path("M NaN 0 L 5 5"), ":2: <path>: path data: a number is missing"},
        {"infinite-radius", head + "<circle stroke='red' r='inf'/></svg>", "<circle>: r: not a length"},
        {"entity-expansion", laughs, ":1: the document declares entities"},
        {"external-entity", "<!DOCTYPE svg [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><svg>&x;</svg>",
         "declares entities"},
        {"external-reference", head + "<use href='other.svg#a'/></svg>", "no stroked shape"},
        {"deep-groups", deep, "nest deeper than 256"},
        {"ten-million-commands", huge, "more path commands than an import may hold"},
        {"no-move", path("L 0 0 5 5"), "must start with a move"},
        {"no-command", path("5 5"), "a command letter is expected"},
        {"bad-command", path("M 0 0 X 1 1"), "a number is missing at 'X 1 1'"},
        {"missing-number", path("M 0 0 L 1"), "a number is missing"},
        {"bad-arc-flag", path("M0 0 A 1 1 0 2 0 5 5"), "arc flag"},
        {"transform-arguments", head + "<g transform='rotate(1,2)'/></svg>", "rotate takes 1 numbers"},
        {"unknown-transform", head + "<g transform='spin(3)'/></svg>", "unknown function"},
        {"bad-colour", head + "<line stroke='#12' x2='5'/></svg>", "colour not understood"},
        {"bad-view-box", "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 -1 5'/>", "viewBox needs four"},
        {"missing-reference", head + "<use href='#nowhere'/></svg>", "not in the file"},
        {"use-cycle", head + "<g id='a'><use href='#a'/></g></svg>", "more than 16 levels"},
        {"use-bomb", useBomb, "elements to draw"},
        {"bad-unit", head + "<circle stroke='red' r='10furlongs'/></svg>", "unit not understood"},
        {"unclosed-quote", "<svg width='5>", "not well-formed XML"},
        {"mismatched-tags", head + "<g></h></svg>", "not well-formed XML"},
        {"binary", std::string("<svg>\0\1\2\xff\xfe", 10), "not well-formed XML"},
        {"huge-coordinate", path("M 0 0 L 1e8 5"), "number out of range"},
        {"huge-transforms", head + [] {
             std::string g;
             for (int i = 0; i < 40; ++i) g += "<g transform='scale(1e6)'>";
             g += "<line stroke='red' x2='1'/>";
             for (int i = 0; i < 40; ++i) g += "</g>";
             return g;
         }() + "</svg>", "beyond any layer"},
        {"percent-radius", head + "<circle stroke='red' r='50%'/></svg>", "unit not understood"},
        {"bad-stroke-width", head + "<line stroke='red' stroke-width='wide' x2='5'/></svg>", "stroke-width"},
    };
}

// Thirty-two broken or hostile files: each refused with a message saying what
// and where, in bounded time and memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED_TOOL = true;
#else
constexpr bool SANITIZED_TOOL = false;
#endif
// Built without optimization (the coverage build) or sanitized, the tool
// runs several times slower.
#if defined(__OPTIMIZE__)
constexpr bool SLOW_TOOL = SANITIZED_TOOL;
#else
constexpr bool SLOW_TOOL = true;
#endif

TEST(SvgImport, MalformedFilesAreRefusedWithinBounds) {
    pennaro_test::ScratchDir dir("svg-import-malformed");
    const auto files = malformedFiles();
    ASSERT_GE(files.size(), 30u);
    for (const Malformed &m : files) {
        const std::string svg = dir / (std::string(m.name) + ".svg");
        writeText(svg, m.text);
        const auto start = std::chrono::steady_clock::now();
        // 1 GiB of address space is far above what a refusal needs. A
        // sanitized tool maps terabytes of shadow memory up front, so there
        // the limit is left to the sanitizer's own allocation checks.
        const int status = shell(std::string(SANITIZED_TOOL ? "" : "ulimit -v 1048576; ") +
                                 pennaro_test::shellQuote(PENNARO_CLI_PATH) + " import " +
                                 pennaro_test::shellQuote(svg) + " -o " + pennaro_test::shellQuote(dir / "out.json") +
                                 " >" + pennaro_test::shellQuote(dir / "log") + " 2>&1");
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::ifstream log(dir / "log");
        const std::string output((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        EXPECT_EQ(status, 1) << m.name << ": " << output;
        EXPECT_NE(output.find(m.says), std::string::npos) << m.name << ": " << output;
        EXPECT_NE(output.find(m.name), std::string::npos) << m.name << " is not named: " << output;
        // The bound is for a runaway, not for speed.
        EXPECT_LT(seconds, SLOW_TOOL ? 120.0 : 10.0) << m.name;
    }
}

}  // namespace
