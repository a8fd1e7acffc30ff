// pennaro compare: are two frames, or two sequences of frames, the same,
// pixel for pixel (or within a tolerance)?
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

#include "cli/commands/commands.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/images/compare.h"
#include "cli/images/image_format.h"
#include "cli/core/memory_budget.h"
#include "cli/render/options.h"

namespace pennaro_cli {
namespace {

using Json = nlohmann::ordered_json;

struct CompareOptions {
    std::string first, second, diff;
    double tolerance = 0;
    bool quiet = false, json = false;
};

// The samples compared and their range, as the answer states them.
std::string scaleName(const RgbaImage &image, bool floating) {
    if (floating) return "float values as stored";
    if (image.scale == SampleScale::Effect) return "effect 16-bit (0..32768)";
    return image.depth == 16 ? "file 16-bit (0..65535)" : "file 8-bit (0..255)";
}

// Two images of one depth, both integer, are compared as their files hold
// them. Anything else (8 against 16 bits, an integer file against an EXR)
// is compared on the effect's 16-bit scale, which every value of either
// side reaches exactly: a PNG and an EXR of the same frame compare equal.
void toCommonScale(RgbaImage &a, bool aFloating, RgbaImage &b, bool bFloating) {
    if (a.depth == b.depth && !aFloating && !bFloating) return;
    for (RgbaImage *image : {&a, &b}) {
        for (uint16_t &sample : image->samples)
            sample = image->depth == 16 ? sixteenBitFromFile(sample) : eightBitToSixteen(sample);
        image->depth = 16;
        image->scale = SampleScale::Effect;
    }
}

// A count or difference: a whole number unless float values were compared.
Json number(double value, bool floating) { return floating ? Json(value) : Json(int64_t(value)); }

Json comparisonJson(const ImageComparison &r, int32_t width, int32_t height, const RgbaImage &a) {
    Json j = {{"scale", scaleName(a, r.floating)}, {"identical", r.identical()}, {"withinTolerance", r.withinTolerance()}, {"sameShape", r.sameShape}};
    if (!r.sameShape) {
        j["shape"] = r.shapeText;
        return j;
    }
    const double psnr = r.psnr();
    j.update({{"width", width},
              {"height", height},
              {"depth", r.floating ? Json("float") : Json(a.depth)},
              {"pixels", int64_t(width) * height},
              {"differingPixels", r.differingPixels},
              {"pixelsBeyondTolerance", r.pixelsBeyondTolerance},
              {"largestDifference", number(r.largestDifference, r.floating)},
              {"psnrDb", std::isinf(psnr) ? Json(nullptr) : Json(psnr)}});
    if (r.differingPixels > 0)
        j["firstDifference"] = {{"x", r.firstX},
                                {"y", r.firstY},
                                {"a", Json::array({number(r.firstA[0], r.floating), number(r.firstA[1], r.floating),
                                                   number(r.firstA[2], r.floating), number(r.firstA[3], r.floating)})},
                                {"b", Json::array({number(r.firstB[0], r.floating), number(r.firstB[1], r.floating),
                                                   number(r.firstB[2], r.floating), number(r.firstB[3], r.floating)})}};
    return j;
}

std::string decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string summary(const ImageComparison &r, double tolerance) {
    std::string text = describeComparison(r);
    if (r.sameShape && r.differingPixels > 0) {
        char extra[96];
        std::snprintf(extra, sizeof extra, "; PSNR %.2f dB", r.psnr());
        text += extra;
        if (tolerance > 0)
            text += "; " + std::to_string(r.pixelsBeyondTolerance) + " beyond the tolerance of " + decimal(tolerance);
        if (r.floating) text += " (float values as stored, colour premultiplied)";
        else if (r.peak == 32768) text += " (on the effect's 16-bit scale, 0..32768)";
    }
    return text;
}

// Compares one pair; `diffName` empty writes no picture, and a sequence
// writes one only for the frames that differ.
ImageComparison comparePair(const std::string &a, const std::string &b, const CompareOptions &o,
                            const std::string &diffName, bool inSequence, Json &json) {
    // An unreadable file is a failure (1), never taken for a difference.
    const bool floatA = probeImage(a).floating, floatB = probeImage(b).floating;
    ImageComparison result;
    RgbaImage imageA, imageB;
    int32_t width = 0, height = 0;
    if (floatA && floatB) {
        // Two EXR files: their values as stored. The picture of the
        // differences is made from them read at 16 bits.
        const FloatImage valuesA = readExrFloats(a, memoryBudget());
        result = compareImages(valuesA, readExrFloats(b, memoryBudget()), o.tolerance);
        width = valuesA.width;
        height = valuesA.height;
        if (!diffName.empty() && !(inSequence && result.identical())) {
            imageA = readImage(a, memoryBudget());
            imageB = readImage(b, memoryBudget());
        }
    } else {
        imageA = readImage(a, memoryBudget());
        imageB = readImage(b, memoryBudget());
        toCommonScale(imageA, floatA, imageB, floatB);
        result = compareImages(imageA, imageB, o.tolerance);
        width = imageA.width;
        height = imageA.height;
    }
    if (!diffName.empty() && !(inSequence && result.identical())) writeImage(diffName, makeDiffImage(imageA, imageB));
    json = comparisonJson(result, width, height, imageA);
    return result;
}

// The frames a pattern's files exist for, in its folder.
std::set<int32_t> framesOnDisk(const std::string &pattern) {
    std::filesystem::path folder = std::filesystem::path(pattern).parent_path();
    std::set<int32_t> frames;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec)) {
        const std::string name = (folder / entry.path().filename()).string();
        if (auto frame = frameOfFileName(pattern, name)) frames.insert(*frame);
    }
    if (ec) throw ToolError("cannot list " + (folder.empty() ? std::string(".") : folder.string()) + ": " + ec.message());
    return frames;
}

int compareSequences(const CompareOptions &o) {
    const std::set<int32_t> inA = framesOnDisk(o.first), inB = framesOnDisk(o.second);
    std::set<int32_t> frames = inA;
    frames.insert(inB.begin(), inB.end());
    if (frames.empty()) throw ToolError("no files match " + o.first + " or " + o.second);
    Json list = Json::array();
    size_t differing = 0, missing = 0;
    for (int32_t f : frames) {
        const std::string a = frameFileName(o.first, f), b = frameFileName(o.second, f);
        Json j = {{"frame", f}};
        if (!inA.count(f) || !inB.count(f)) {
            ++missing;
            j["missing"] = inA.count(f) ? b : a;
            if (!o.quiet && !o.json) std::printf("frame %d: %s is missing\n", f, inA.count(f) ? b.c_str() : a.c_str());
        } else {
            Json result;
            const ImageComparison r = comparePair(a, b, o, o.diff.empty() ? "" : frameFileName(o.diff, f), true, result);
            j.update(result);
            if (!r.withinTolerance()) ++differing;
            if (!r.identical() && !o.quiet && !o.json) std::printf("frame %d: %s\n", f, summary(r, o.tolerance).c_str());
        }
        list.push_back(j);
    }
    if (o.json) {
        Json doc = {{"a", o.first},        {"b", o.second},        {"tolerance", o.tolerance},
                    {"framesCompared", frames.size() - missing}, {"framesDiffering", differing},
                    {"framesMissing", missing}, {"frames", list}};
        std::printf("%s\n", doc.dump(2).c_str());
    } else if (!o.quiet) {
        std::printf("%zu frame%s compared: %zu differ%s, %zu missing on one side\n", frames.size() - missing,
                    frames.size() - missing == 1 ? "" : "s", differing,
                    o.tolerance > 0 ? (" beyond the tolerance of " + decimal(o.tolerance)).c_str() : "", missing);
    }
    return differing == 0 && missing == 0 ? exit_status::OK : exit_status::NEGATIVE;
}

int runCompare(void *context) {
    auto &o = *static_cast<CompareOptions *>(context);
    const bool sequence = hasFramePlaceholder(o.first);
    if (sequence != hasFramePlaceholder(o.second) || (!o.diff.empty() && sequence != hasFramePlaceholder(o.diff)))
        throw UsageError("compare two files or two sequences: A and B (and --diff) all have a frame number "
                         "placeholder such as ####, or none of them has");
    if (!o.diff.empty()) outputFormatFor(o.diff, "--diff");
    if (sequence) return compareSequences(o);
    Json json;
    const ImageComparison result = comparePair(o.first, o.second, o, o.diff, false, json);
    if (o.json) {
        Json doc = {{"a", o.first}, {"b", o.second}, {"tolerance", o.tolerance}};
        doc.update(json);
        std::printf("%s\n", doc.dump(2).c_str());
    } else if (!o.quiet) {
        std::printf("%s\n", summary(result, o.tolerance).c_str());
    }
    return result.withinTolerance() ? exit_status::OK : exit_status::NEGATIVE;
}

int compareMain(int argc, char **argv) {
    CLI::App app("Compare two frames, or two sequences of frames, sample for sample: all four channels, "
                 "colour included where alpha is 0. PNG, TIFF and OpenEXR files are read. Two integer "
                 "files of one depth are compared as stored (0..255 or 0..65535), two EXR files as the float "
                 "values they store; anything else (8 against 16 bits, a PNG or TIFF against an EXR) on "
                 "the effect's 16-bit scale (0..32768), so a PNG and "
                 "an EXR of the same frame compare equal; the answer names the scale. Prints the number of differing pixels, the largest difference of "
                 "one channel, the peak signal-to-noise ratio and the first differing pixel.\n\n"
                 "Sequences: A and B with a frame number placeholder (such as A_####.png B_####.png); "
                 "every frame either has on disk is compared, and a frame missing on one side is a "
                 "difference.\n\nThe answer is the exit status: 0 when the images are identical (same "
                 "size, same depth, every sample within the tolerance), 3 when they differ, 1 when a "
                 "file cannot be read, 2 on a usage error.",
                 "compare");
    CompareOptions options;
    app.add_option("A", options.first, "First image, or sequence such as a/f_####.png")->required();
    app.add_option("B", options.second, "Second image, or sequence")->required();
    app.add_option("--tolerance", options.tolerance,
                   "Count as equal the pixels whose channels differ by at most N, in the unit compared "
                   "(0..255, 0..65535, 0..32768 on the effect's scale, or float values for two EXR files, "
                   "such as 0.001); the counts, largest difference and PSNR still cover every difference")
        ->check(CLI::Range(0.0, 65535.0));
    app.add_option("--diff", options.diff,
                   "Write an 8-bit picture of the differences (for sequences a pattern, for the frames that "
                   "differ): equal pixels faint grey, differing pixels red, brighter for larger differences");
    app.add_flag("--json", options.json, "Print the result as JSON, for scripts");
    app.add_flag("-q,--quiet", options.quiet, "Print nothing; only the exit status tells");
    CommonOptions common;
    addCommonOptions(app, common);
    return runGuarded(app, argc, argv, runCompare, &options);
}

const CommandRegistrar compareRegistrar("compare", "compare two frames or sequences, PNG, TIFF or EXR", compareMain);

}  // namespace
}  // namespace pennaro_cli
