// The frei0r filter loaded as a video host loads it: instances on two
// threads at once, a drawing that cannot be read, and a new size.
#include <gtest/gtest.h>

extern "C" {
#include <frei0r.h>
}

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/run_tool.h"
#include "cli/images/image_format.h"

namespace {

struct Filter {
    void *library = dlopen(PENNARO_FREI0R_PATH, RTLD_NOW | RTLD_LOCAL);
    template <typename F>
    F get(const char *name) {
        return reinterpret_cast<F>(dlsym(library, name));
    }
    decltype(&f0r_construct) construct = get<decltype(&f0r_construct)>("f0r_construct");
    decltype(&f0r_destruct) destruct = get<decltype(&f0r_destruct)>("f0r_destruct");
    decltype(&f0r_set_param_value) set = get<decltype(&f0r_set_param_value)>("f0r_set_param_value");
    decltype(&f0r_update) update = get<decltype(&f0r_update)>("f0r_update");

    void setText(f0r_instance_t i, int index, const std::string &text) {
        const char *value = text.c_str();
        set(i, &value, index);
    }
    void setNumber(f0r_instance_t i, int index, double value) { set(i, &value, index); }
};

Filter &filter() {
    static Filter f;
    return f;
}

using Frame = std::vector<uint32_t>;

// A plate whose every pixel differs, opaque.
Frame plate(int w, int h, int frame) {
    Frame p(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t bytes[4] = {uint8_t(x * 3 + frame), uint8_t(y * 5), uint8_t(x ^ y), 255};
            std::memcpy(&p[size_t(y) * size_t(w) + size_t(x)], bytes, 4);
        }
    return p;
}

// Frames 0.. of one instance over the plates, times in seconds at 24 fps.
std::vector<Frame> run(const std::string &drawing, int w, int h, int frames, const char *mode) {
    Filter &f = filter();
    f0r_instance_t instance = f.construct(unsigned(w), unsigned(h));
    f.setText(instance, 0, drawing);
    f.setText(instance, 4, mode);
    f.setNumber(instance, 6, 1.0);  // wiggle
    std::vector<Frame> out;
    for (int i = 0; i < frames; ++i) {
        const Frame in = plate(w, h, i);
        Frame painted(in.size());
        f.update(instance, i / 24.0, in.data(), painted.data());
        out.push_back(std::move(painted));
    }
    f.destruct(instance);
    return out;
}

std::filesystem::path scratch(const std::string &name) {
    return std::filesystem::temp_directory_path() / ("pennaro-frei0r-" + std::to_string(getpid()) + "-" + name);
}

// A second drawing: every other stroke of the demo.
std::string sparseDemo() {
    std::ifstream in(PENNARO_SOURCE_DIR "/examples/demo.json");
    nlohmann::json doc = nlohmann::json::parse(in);
    nlohmann::json kept = nlohmann::json::array();
    for (size_t i = 0; i < doc["strokes"].size(); i += 2) kept.push_back(doc["strokes"][i]);
    doc["strokes"] = kept;
    const auto path = scratch("sparse.json");
    std::ofstream(path) << doc.dump();
    return path.string();
}

// Standard error while `body` runs.
template <typename Body>
std::string stderrOf(Body body) {
    const auto path = scratch("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(2);
    FILE *file = std::fopen(path.c_str(), "w");
    dup2(fileno(file), 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(file);
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return text;
}

int lines(const std::string &text) { return int(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

TEST(Frei0rFilter, TwoInstancesOnTwoThreadsGiveTheFramesOfTwoSerialRuns) {
    ASSERT_NE(filter().library, nullptr) << dlerror();
    const std::string demo = PENNARO_SOURCE_DIR "/examples/demo.json", sparse = sparseDemo();
    const auto serialA = run(demo, 160, 96, 8, "Animate Strokes");
    const auto serialB = run(sparse, 128, 72, 8, "All Strokes");
    ASSERT_NE(serialA[7], plate(160, 96, 7));  // the drawing shows
    std::vector<Frame> a, b;
    std::thread first([&] { a = run(demo, 160, 96, 8, "Animate Strokes"); });
    std::thread second([&] { b = run(sparse, 128, 72, 8, "All Strokes"); });
    first.join();
    second.join();
    EXPECT_EQ(a, serialA);
    EXPECT_EQ(b, serialB);
    std::filesystem::remove(sparse);
}

TEST(Frei0rFilter, AnUnreadableDrawingPassesFramesThroughAndSaysWhyOnce) {
    const auto damaged = scratch("damaged.json");
    std::ofstream(damaged) << "{\"format\": 1, \"strokes\": [";
    for (const std::string &drawing : {std::string("/nonexistent/drawing.json"), damaged.string()}) {
        std::vector<Frame> frames;
        const std::string said = stderrOf([&] { frames = run(drawing, 64, 48, 3, "All Strokes"); });
        for (int i = 0; i < 3; ++i) EXPECT_EQ(frames[size_t(i)], plate(64, 48, i)) << drawing;
        EXPECT_EQ(lines(said), 1) << said;
        EXPECT_NE(said.find(drawing), std::string::npos) << said;
    }
    std::filesystem::remove(damaged);
    // A bad value is refused the same way, and the next good one paints.
    Filter &f = filter();
    f0r_instance_t instance = f.construct(64, 48);
    f.setText(instance, 1, "minutes");
    const Frame in = plate(64, 48, 0);
    Frame out(in.size());
    const std::string said = stderrOf([&] { f.update(instance, 0, in.data(), out.data()); });
    EXPECT_EQ(out, in);
    EXPECT_NE(said.find("time unit \"minutes\""), std::string::npos) << said;
    f.setText(instance, 1, "s");
    f.setText(instance, 4, "All Strokes");
    f.update(instance, 0, in.data(), out.data());
    EXPECT_NE(out, in);
    f.destruct(instance);
}

TEST(Frei0rFilter, ANewSizePaintsAtThatSizeAsTheToolDoes) {
    // A host that sees a new size mid-stream builds a new instance; each
    // paints what the tool paints at that size over the same flat layer.
    Filter &f = filter();
    const uint8_t colour[4] = {0x33, 0x66, 0x99, 0xFF};
    for (const auto &[w, h] : {std::pair{96, 64}, std::pair{200, 120}}) {
        const auto folder = scratch(std::to_string(w));
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const auto tool = pennaro_test::runTool({"render", "--size", size, "--background", "#336699", "--fps", "24",
                                                 "--frames", "0-3", "--playback-mode", "Animate Strokes", "--wiggle",
                                                 "on", "-q", "-o", (folder / "f_####.png").string()});
        ASSERT_EQ(tool.status, 0) << tool.output;
        f0r_instance_t instance = f.construct(unsigned(w), unsigned(h));
        f.setText(instance, 4, "Animate Strokes");
        f.setNumber(instance, 6, 1.0);
        Frame in(size_t(w) * size_t(h));
        for (uint32_t &p : in) std::memcpy(&p, colour, 4);
        for (int i = 0; i < 4; ++i) {
            Frame out(in.size());
            f.update(instance, i / 24.0, in.data(), out.data());
            const auto expected = pennaro_cli::readImage(folder / ("f_000" + std::to_string(i) + ".png"));
            ASSERT_EQ(expected.width, w);
            ASSERT_EQ(expected.height, h);
            Frame painted(in.size());
            for (size_t p = 0; p < painted.size(); ++p) {
                uint8_t bytes[4];
                for (int c = 0; c < 4; ++c) bytes[c] = uint8_t(expected.samples[p * 4 + size_t(c)]);
                std::memcpy(&painted[p], bytes, 4);
            }
            EXPECT_EQ(out, painted) << size << " frame " << i;
        }
        f.destruct(instance);
        std::filesystem::remove_all(folder);
    }
}
