#include "cli/scan/report.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "format/block.h"
#include "cli/drawings/drawing_file.h"

namespace pennaro_cli {

using nlohmann::ordered_json;
using pennaro::CandidateVerdict;

namespace {

const char *statusName(const FoundBlock &b) {
    if (b.candidate.verdict == CandidateVerdict::Drawing && !b.damagedStream.empty()) return "damaged-stream";
    return pennaro::verdictName(b.candidate.verdict);
}

ordered_json encodingJson(const std::vector<EncodingStep> &path) {
    ordered_json steps = ordered_json::array();
    for (const auto &step : path) {
        ordered_json s;
        s["kind"] = step.kind;
        s["offset"] = step.offset;
        if (!step.entry.empty()) s["entry"] = step.entry;
        steps.push_back(s);
    }
    return steps;
}

// A drawing stores its times as floats: written as the shortest decimal
// that reads back as the same float (0.1, not 0.100000001490116), and read
// into a double from that decimal, so that JSON writes it the same way.
std::string storedTime(double t) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, static_cast<float>(t));
    return std::string(text, written.ptr);
}
double storedTimeValue(double t) { return std::strtod(storedTime(t).c_str(), nullptr); }

}  // namespace

ordered_json scanRecord(const FoundBlock &b) {
    const auto &c = b.candidate;
    ordered_json j;
    j["number"] = b.number > 0 ? ordered_json(b.number) : ordered_json(nullptr);
    j["status"] = statusName(b);
    if (!b.isDrawing()) j["reason"] = describeVerdict(b);
    j["offset"] = b.path.empty() ? c.offset : b.path.front().offset;
    j["encoding"] = encodingJson(b.path);
    j["offsetInStream"] = c.offset;
    if (c.inspection.wholeHeader) {
        j["byteOrder"] = c.inspection.otherByteOrder ? "big-endian" : "little-endian";
        j["formatVersion"] = c.inspection.formatVersion;
    }
    j["length"] = c.length;
    if (!c.lengthKnown) j["lengthIsLowerBound"] = true;
    if (b.candidate.verdict == CandidateVerdict::Overlapping) j["overlapsDrawingAt"] = c.overlapsDrawingAt;
    if (c.verdict == CandidateVerdict::Drawing && b.bytes.size() == c.length) {
        std::vector<uint8_t> block = b.bytes;
        if (c.inspection.otherByteOrder) swapWordBytes(block);
        const DrawingSummary s =
            summarizeDrawing(block, c.inspection.otherByteOrder ? ByteOrder::Big : ByteOrder::Little);
        j["strokes"] = s.strokeCount;
        j["samples"] = s.sampleCount;
        if (s.hasTime) j["timeSpan"] = {storedTimeValue(s.firstStart), storedTimeValue(s.lastEnd)};
        if (s.hasBounds) j["bounds"] = {{"minX", s.minX}, {"minY", s.minY}, {"maxX", s.maxX}, {"maxY", s.maxY}};
    }
    return j;
}

std::string scanLine(const ordered_json &r) {
    std::string where = "byte " + std::to_string(r["offset"].get<uint64_t>());
    std::string how;
    for (const auto &step : r["encoding"]) {
        how += how.empty() ? "" : " > ";
        how += step["kind"].get<std::string>() + "@" + std::to_string(step["offset"].get<uint64_t>());
        if (step.contains("entry")) how += " (" + escapedName(step["entry"].get<std::string>()) + ")";
    }
    if (!how.empty()) where += " (" + how + ", at " + std::to_string(r["offsetInStream"].get<uint64_t>()) + ")";
    else where += " (raw)";
    std::string line = r["number"].is_null() ? "  -   " : "  #" + std::to_string(r["number"].get<int>());
    while (line.size() < 6) line += ' ';
    line += where;
    if (r.contains("byteOrder"))
        line += ", " + r["byteOrder"].get<std::string>() + ", version " +
                std::to_string(r["formatVersion"].get<uint32_t>());
    line += ", " + std::to_string(r["length"].get<uint64_t>()) + (r.contains("lengthIsLowerBound") ? "+" : "") +
            " bytes";
    if (r.contains("strokes")) {
        char text[200];
        line += ", " + std::to_string(r["strokes"].get<int32_t>()) + " strokes, " +
                std::to_string(r["samples"].get<uint64_t>()) + " samples";
        if (r.contains("timeSpan"))
            line += ", " + storedTime(r["timeSpan"][0].get<double>()) + " s to " +
                    storedTime(r["timeSpan"][1].get<double>()) + " s";
        if (r.contains("bounds")) {
            const auto &b = r["bounds"];
            std::snprintf(text, sizeof text, ", x %.4f to %.4f, y %.4f to %.4f", b["minX"].get<double>(),
                          b["maxX"].get<double>(), b["minY"].get<double>(), b["maxY"].get<double>());
            line += text;
        }
    }
    if (r.contains("reason")) line += "\n        " + r["status"].get<std::string>() + ": " + r["reason"].get<std::string>();
    return line + "\n";
}

ScannedFile scanForReport(const std::string &name, bool allBytes, std::function<void(uint64_t)> progress) {
    ScanSettings settings;
    settings.maxBlockBytes = scanBlockLimit();
    settings.keep = [allBytes](const pennaro::BlockCandidate &c) {
        return allBytes || c.verdict == CandidateVerdict::Drawing;
    };
    settings.progress = std::move(progress);
    ScannedFile file;
    file.name = name;
    file.result = scanFile(name, settings);
    for (const auto &b : file.result.blocks) file.records.push_back(scanRecord(b));
    return file;
}

}  // namespace pennaro_cli
