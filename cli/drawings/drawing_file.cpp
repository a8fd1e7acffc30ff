#include "cli/drawings/drawing_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "format/block.h"
#include "format/records.h"
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/core/json_reader.h"

namespace pennaro_cli {

using nlohmann::ordered_json;
using pennaro::BrushAttributeMask;
using pennaro::BrushSettings;
using pennaro::FlatDrawingHeader;
using pennaro::FlatStrokeRecord;

namespace {

// The word that tells a block's byte order.
constexpr size_t BYTE_ORDER_MARK_OFFSET = offsetof(pennaro::DrawingLayout, byteOrderMark);

// ---- floats: shortest decimal that reads back to the same float; the
// non-finite ones as their bit pattern in a hex string ("0x7fc00000").

uint32_t floatBits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

float bitsFloat(uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

ordered_json floatToJson(float f) {
    if (!std::isfinite(f)) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08" PRIx32, floatBits(f));
        return text;
    }
    char text[64];
    auto result = std::to_chars(text, text + sizeof text - 1, f);
    *result.ptr = '\0';
    // The JSON number is a double; the double nearest the shortest decimal
    // almost always narrows back to f. When it would not, keep f's exact
    // value instead (longer, but exact).
    double d = std::strtod(text, nullptr);
    if (floatBits(static_cast<float>(d)) != floatBits(f)) d = static_cast<double>(f);
    return d;
}

[[noreturn]] void bad(const std::string &where, const std::string &what) {
    throw ToolError(where + ": " + what);
}

float jsonToFloat(const ordered_json &v, const std::string &where) {
    if (v.is_number()) {
        const double d = v.get<double>();
        // Halfway between the largest float and the next power of two: from
        // there on a double would round to infinity.
        if (std::isfinite(d) && std::fabs(d) >= 3.4028235677973366e38)
            bad(where, "number too large for a 32-bit float (write its bit pattern as \"0x7f800000\")");
        return static_cast<float>(d);
    }
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        if (s.size() == 10 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            uint32_t bits = 0;
            auto r = std::from_chars(s.data() + 2, s.data() + s.size(), bits, 16);
            if (r.ec == std::errc() && r.ptr == s.data() + s.size()) return bitsFloat(bits);
        }
        bad(where, "a float is a number or its bit pattern as \"0x\" and 8 hex digits, not \"" + boundedText(s) + "\"");
    }
    bad(where, "expected a number, found " + std::string(v.type_name()));
}

uint32_t jsonToU32(const ordered_json &v, const std::string &where) {
    if (v.is_number_unsigned() || (v.is_number_integer() && v.get<int64_t>() >= 0)) {
        const uint64_t x = v.get<uint64_t>();
        if (x <= UINT32_MAX) return static_cast<uint32_t>(x);
    }
    bad(where, "expected a whole number from 0 to 4294967295");
}

int32_t jsonToI32(const ordered_json &v, const std::string &where) {
    if (v.is_number_integer()) {
        const int64_t x = v.get<int64_t>();
        if (x >= INT32_MIN && x <= INT32_MAX) return static_cast<int32_t>(x);
    }
    bad(where, "expected a whole number from -2147483648 to 2147483647");
}

std::string hexBytes(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::vector<uint8_t> bytesFromHex(const ordered_json &v, const std::string &where) {
    if (!v.is_string()) bad(where, "expected a string of hex digits");
    const std::string s = v.get<std::string>();
    if (s.size() % 2) bad(where, "odd number of hex digits");
    std::vector<uint8_t> out(s.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        auto r = std::from_chars(s.data() + 2 * i, s.data() + 2 * i + 2, out[i], 16);
        if (r.ec != std::errc() || r.ptr != s.data() + 2 * i + 2) bad(where, "not a hex digit in \"" + boundedText(s) + "\"");
    }
    return out;
}

ordered_json brushToJson(const BrushSettings &b) {
    ordered_json j;
    j["red"] = floatToJson(b.red);
    j["green"] = floatToJson(b.green);
    j["blue"] = floatToJson(b.blue);
    j["opacity"] = floatToJson(b.opacity);
    j["size"] = floatToJson(b.size);
    j["brushMode"] = b.brushMode;
    j["softness"] = floatToJson(b.softness);
    j["pressureFlags"] = b.pressureFlags;
    return j;
}

ordered_json maskToJson(const BrushAttributeMask &m) {
    ordered_json j;
    j["color"] = m.color;
    j["opacity"] = m.opacity;
    j["size"] = m.size;
    j["brushMode"] = m.brushMode;
    j["softness"] = m.softness;
    j["pressureFlags"] = m.pressureFlags;
    return j;
}

// Refuses keys nobody reads: a misspelt key would otherwise vanish quietly.
void onlyKeys(const ordered_json &obj, const std::set<std::string> &known, const std::string &where) {
    if (!obj.is_object()) bad(where, "expected an object, found " + std::string(obj.type_name()));
    for (auto it = obj.begin(); it != obj.end(); ++it)
        if (!known.count(it.key())) bad(where, "unknown key \"" + boundedText(it.key()) + "\"");
}

BrushSettings brushFromJson(const ordered_json &j, const std::string &where) {
    onlyKeys(j, {"red", "green", "blue", "opacity", "size", "brushMode", "softness", "pressureFlags"}, where);
    BrushSettings b = pennaro::DEFAULT_BRUSH;
    auto f = [&](const char *key, float &field) {
        if (j.contains(key)) field = jsonToFloat(j[key], where + "." + key);
    };
    auto u = [&](const char *key, uint32_t &field) {
        if (j.contains(key)) field = jsonToU32(j[key], where + "." + key);
    };
    f("red", b.red);
    f("green", b.green);
    f("blue", b.blue);
    f("opacity", b.opacity);
    f("size", b.size);
    u("brushMode", b.brushMode);
    f("softness", b.softness);
    u("pressureFlags", b.pressureFlags);
    return b;
}

BrushAttributeMask maskFromJson(const ordered_json &j, const std::string &where) {
    onlyKeys(j, {"color", "opacity", "size", "brushMode", "softness", "pressureFlags"}, where);
    BrushAttributeMask m = pennaro::FULL_BRUSH_MASK;
    auto u = [&](const char *key, uint32_t &field) {
        if (j.contains(key)) field = jsonToU32(j[key], where + "." + key);
    };
    u("color", m.color);
    u("opacity", m.opacity);
    u("size", m.size);
    u("brushMode", m.brushMode);
    u("softness", m.softness);
    u("pressureFlags", m.pressureFlags);
    return m;
}

std::string describeProblem(const pennaro::BlockCheck &check, uint64_t size) {
    using P = pennaro::BlockProblem;
    const std::string stroke = "stroke " + std::to_string(check.stroke);
    switch (check.problem) {
        case P::None: return "";
        case P::ShortHeader:
            return "too short for a drawing header (" + std::to_string(size) + " bytes, the header has " +
                   std::to_string(pennaro::FLAT_HEADER_SIZE) + ")";
        case P::NegativeStrokeCount: return "damaged: negative stroke count";
        case P::StrokesWithoutTable: return "damaged: strokes counted but no stroke table";
        case P::TablePastEnd: return "damaged: the stroke table reaches past the end of the file";
        case P::NegativePointCount: return "damaged: " + stroke + " has a negative sample count";
        case P::SamplesPastEnd: return "damaged: the samples of " + stroke + " reach past the end of the file";
        case P::SamplesTooShort: return "damaged: " + stroke + " counts more samples than it holds";
    }
    return "damaged";
}

// Writes compact arrays of scalars (a sample, the reserved words) on one
// line and everything else indented.
void writeJson(std::ostringstream &os, const ordered_json &j, int indent) {
    const std::string pad(static_cast<size_t>(indent) * 2, ' ');
    const std::string padIn(static_cast<size_t>(indent + 1) * 2, ' ');
    if (j.is_object()) {
        if (j.empty()) {
            os << "{}";
            return;
        }
        os << "{\n";
        size_t i = 0;
        for (auto it = j.begin(); it != j.end(); ++it, ++i) {
            os << padIn << ordered_json(it.key()).dump() << ": ";
            writeJson(os, it.value(), indent + 1);
            os << (i + 1 < j.size() ? ",\n" : "\n");
        }
        os << pad << "}";
    } else if (j.is_array()) {
        bool scalars = true;
        for (const auto &e : j) scalars = scalars && !e.is_structured();
        if (scalars || j.empty()) {
            os << j.dump();
            return;
        }
        os << "[\n";
        for (size_t i = 0; i < j.size(); ++i) {
            os << padIn;
            writeJson(os, j[i], indent + 1);
            os << (i + 1 < j.size() ? ",\n" : "\n");
        }
        os << pad << "]";
    } else {
        os << j.dump();
    }
}

}  // namespace

bool looksLikeJson(const std::vector<uint8_t> &bytes) {
    for (size_t i = utf8BomLength(bytes.data(), bytes.size()); i < bytes.size(); ++i) {
        const uint8_t c = bytes[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == '{' || c == '[';
    }
    return false;
}

void refuseOtherForms(const std::vector<uint8_t> &bytes, const std::string &name) {
    static const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), PNG_SIGNATURE, 8) == 0)
        throw ToolError(name + ": a PNG image, not a drawing (a drawing is a saved block or its JSON form)");
    if (const char *wide = wideJsonEncoding(bytes.data(), bytes.size()))
        throw ToolError(name + ": JSON in " + wide + "; only UTF-8 is read (save it as UTF-8)");
}

ByteOrder detectByteOrder(const std::vector<uint8_t> &block) {
    if (block.size() < BYTE_ORDER_MARK_OFFSET + 4) throw ToolError("too short to be a drawing");
    // Byte 4 is the low byte of the mark 0x01000000 in a little-endian block.
    return block[BYTE_ORDER_MARK_OFFSET] == 0 ? ByteOrder::Little : ByteOrder::Big;
}

void swapWordBytes(std::vector<uint8_t> &block) { pennaro::swapWords(block.data(), block.size()); }

std::vector<uint8_t> normalizeBlock(const std::vector<uint8_t> &bytes, const std::string &name) {
    // The effect's own reader decides; a block of another version is read
    // here too (the effect names the version when it refuses to open it).
    using pennaro::ReadStatus;
    using pennaro::UnknownReason;
    const pennaro::BlockInspection seen = pennaro::inspectBlock(bytes.data(), bytes.size());
    static const uint8_t NOTHING[8] = {};
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), NOTHING, 8) == 0)
        throw ToolError(name + ": neither a saved drawing block nor JSON (it starts with zero bytes)");
    if (seen.status == ReadStatus::AlreadyInMemory || seen.reason == UnknownReason::MemoryFormSize)
        throw ToolError(name + ": not a saved drawing (the word at offset 8 is 0, which marks a drawing "
                               "in memory form); refusing it");
    if (seen.reason == UnknownReason::TooShort)
        throw ToolError(name + ": too short to be a drawing (" + std::to_string(bytes.size()) + " bytes)");
    // Neither byte order's mark, or a header that is nothing like a saved
    // one: not a damaged drawing but some other file.
    const bool foreign = seen.reason == UnknownReason::ByteOrderMark ||
                         (seen.wholeHeader && seen.formatVersion != pennaro::FORMAT_VERSION &&
                          pennaro::readRecord<uint32_t>(bytes.data(), offsetof(pennaro::DrawingLayout, flatHeaderSize)) !=
                              (seen.otherByteOrder ? 0xE8000000u : pennaro::FLAT_HEADER_SIZE));
    if (foreign)
        throw ToolError(name + ": neither a saved drawing block nor JSON (it starts with " +
                        hexBytes(bytes.data(), 8) + ")");
    if (seen.structure.problem != pennaro::BlockProblem::None)
        throw ToolError(name + ": " + describeProblem(seen.structure, bytes.size()));
    std::vector<uint8_t> block = bytes;
    if (seen.otherByteOrder) swapWordBytes(block);
    return block;
}

void requireReadableOnceSaved(const std::vector<uint8_t> &block, const std::string &name) {
    // A big-endian mark with stray bits in its low byte opens, but turned
    // little-endian those bits land in byte 4, which then says "big-endian":
    // no block written from this drawing would open again.
    if (!block.empty() && pennaro::inspectBlock(block.data(), block.size()).otherByteOrder)
        throw ToolError(name + ": the byte-order mark has stray bits in its low byte; the effect opens this "
                               "drawing, but a block written from it would not open again, so it is not converted");
}

ordered_json blockToJson(const std::vector<uint8_t> &input, const std::string &name) {
    const std::vector<uint8_t> block = normalizeBlock(input, name);
    requireReadableOnceSaved(block, name);
    const auto h = pennaro::readRecord<FlatDrawingHeader>(block.data(), 0);
    ordered_json j;
    j["format"] = DRAWING_JSON_FORMAT;
    j["formatVersion"] = h.layout.formatVersion;
    // Fields the effect always writes the same way appear only when a block
    // carries something else, so nothing of an odd block is lost.
    if (h.layout.byteOrderMark != pennaro::BYTE_ORDER_MARK) j["byteOrderMark"] = h.layout.byteOrderMark;
    if (h.layout.flatHeaderSize != pennaro::FLAT_HEADER_SIZE) j["flatHeaderSize"] = h.layout.flatHeaderSize;
    if (h.layout.strokeRecordSize != pennaro::STROKE_RECORD_SIZE) j["strokeRecordSize"] = h.layout.strokeRecordSize;
    if (h.layout.pointRecordSize != pennaro::POINT_RECORD_SIZE) j["pointRecordSize"] = h.layout.pointRecordSize;
    if (h.hasStrokeTable != 1) j["hasStrokeTable"] = h.hasStrokeTable;
    j["toolMode"] = h.tools.toolMode;
    j["previousToolMode"] = h.tools.previousToolMode;
    j["toolModeSwapped"] = h.tools.toolModeSwapped;
    j["toolOption"] = h.tools.toolOption;
    j["reservedSettings"] = ordered_json::array();
    for (uint32_t w : h.tools.reservedSettings) j["reservedSettings"].push_back(w);
    j["currentBrush"] = brushToJson(h.tools.currentBrush);
    j["currentBrushMask"] = maskToJson(h.tools.currentBrushMask);
    j["selectionActive"] = h.tools.selectionActive;
    j["alternateBrush"] = brushToJson(h.tools.alternateBrush);
    j["alternateBrushMask"] = maskToJson(h.tools.alternateBrushMask);
    bool reservedUsed = false;
    for (uint32_t w : h.reserved) reservedUsed = reservedUsed || w != 0;
    if (reservedUsed) {
        j["reserved"] = ordered_json::array();
        for (uint32_t w : h.reserved) j["reserved"].push_back(w);
    }
    // A drawing saved without a stroke table (offset 0) differs from one
    // with an empty table; "strokes": null keeps that apart.
    if (h.hasStrokeTable == 0 || (h.layout.strokeCount == 0 && h.strokeTableOffset == 0)) {
        j["strokes"] = nullptr;
        return j;
    }
    j["strokes"] = ordered_json::array();
    for (int32_t i = 0; i < h.layout.strokeCount; ++i) {
        const auto s = pennaro::readRecord<FlatStrokeRecord>(
            block.data(), h.strokeTableOffset + static_cast<uint64_t>(i) * pennaro::FLAT_STROKE_RECORD_SIZE);
        ordered_json js;
        js["strokeId"] = s.info.strokeId;
        js["startTime"] = floatToJson(s.info.startTime);
        js["duration"] = floatToJson(s.info.duration);
        js["brush"] = brushToJson(s.info.brush);
        js["drawCount"] = s.info.drawCount;
        js["selected"] = s.info.selected;
        const uint32_t whole = s.flatPointBytes / pennaro::POINT_RECORD_SIZE;
        if (static_cast<uint32_t>(s.info.pointCount) != whole) js["pointCount"] = s.info.pointCount;
        if (s.hasPoints != 1) js["hasPoints"] = s.hasPoints;
        ordered_json points = ordered_json::array();
        for (uint32_t k = 0; k < whole; ++k) {
            const auto p = pennaro::readRecord<pennaro::PaintPoint>(
                block.data(), s.flatPointOffset + static_cast<uint64_t>(k) * pennaro::POINT_RECORD_SIZE);
            points.push_back(ordered_json::array(
                {floatToJson(p.time), floatToJson(p.x), floatToJson(p.y), floatToJson(p.pressure)}));
        }
        js["points"] = std::move(points);
        const uint32_t extra = s.flatPointBytes % pennaro::POINT_RECORD_SIZE;
        if (extra)
            js["extraSampleBytes"] =
                hexBytes(block.data() + s.flatPointOffset + static_cast<uint64_t>(whole) * 16, extra);
        j["strokes"].push_back(std::move(js));
    }
    return j;
}

std::vector<uint8_t> jsonToBlock(const ordered_json &j, ByteOrder order) {
    onlyKeys(j,
             {"format", "formatVersion", "byteOrderMark", "flatHeaderSize", "strokeRecordSize", "pointRecordSize",
              "hasStrokeTable", "toolMode", "previousToolMode", "toolModeSwapped", "toolOption", "reservedSettings",
              "currentBrush", "currentBrushMask", "selectionActive", "alternateBrush", "alternateBrushMask",
              "reserved", "strokes"},
             "drawing");
    if (!j.contains("format")) bad("drawing", "missing \"format\" (this tool writes format 1)");
    const int64_t format = j["format"].is_number_integer() ? j["format"].get<int64_t>() : -1;
    if (format != DRAWING_JSON_FORMAT)
        bad("drawing", "\"format\" " + quoteJson(j["format"]) + " is not one this tool reads (it reads format " +
                           std::to_string(DRAWING_JSON_FORMAT) + ")");
    if (!j.contains("strokes")) bad("drawing", "missing \"strokes\" (an array, or null for no stroke table)");

    FlatDrawingHeader h{};
    auto u = [&](const char *key, uint32_t &field, uint32_t dflt) {
        field = j.contains(key) ? jsonToU32(j[key], key) : dflt;
    };
    auto i32 = [&](const char *key, int32_t &field, int32_t dflt) {
        field = j.contains(key) ? jsonToI32(j[key], key) : dflt;
    };
    u("formatVersion", h.layout.formatVersion, pennaro::FORMAT_VERSION);
    u("byteOrderMark", h.layout.byteOrderMark, pennaro::BYTE_ORDER_MARK);
    u("flatHeaderSize", h.layout.flatHeaderSize, pennaro::FLAT_HEADER_SIZE);
    u("strokeRecordSize", h.layout.strokeRecordSize, pennaro::STROKE_RECORD_SIZE);
    u("pointRecordSize", h.layout.pointRecordSize, pennaro::POINT_RECORD_SIZE);
    u("hasStrokeTable", h.hasStrokeTable, 1);
    i32("toolMode", h.tools.toolMode, 1);
    i32("previousToolMode", h.tools.previousToolMode, 0);
    i32("toolModeSwapped", h.tools.toolModeSwapped, 0);
    i32("toolOption", h.tools.toolOption, 1);
    i32("selectionActive", h.tools.selectionActive, 0);
    auto words = [&](const char *key, uint32_t *out, size_t n) {
        if (!j.contains(key)) return;
        const auto &a = j[key];
        if (!a.is_array() || a.size() != n) bad(key, "expected an array of " + std::to_string(n) + " whole numbers");
        for (size_t i = 0; i < n; ++i) out[i] = jsonToU32(a[i], std::string(key) + "[" + std::to_string(i) + "]");
    };
    words("reservedSettings", h.tools.reservedSettings, 4);
    words("reserved", h.reserved, 12);
    h.tools.currentBrush = j.contains("currentBrush") ? brushFromJson(j["currentBrush"], "currentBrush") : pennaro::DEFAULT_BRUSH;
    h.tools.alternateBrush =
        j.contains("alternateBrush") ? brushFromJson(j["alternateBrush"], "alternateBrush") : pennaro::DEFAULT_BRUSH;
    h.tools.currentBrushMask = j.contains("currentBrushMask") ? maskFromJson(j["currentBrushMask"], "currentBrushMask")
                                                        : pennaro::FULL_BRUSH_MASK;
    h.tools.alternateBrushMask = j.contains("alternateBrushMask")
                               ? maskFromJson(j["alternateBrushMask"], "alternateBrushMask")
                               : pennaro::FULL_BRUSH_MASK;
    if (h.layout.flatHeaderSize == 0)
        bad("flatHeaderSize", "0 marks a drawing in memory form, which is never saved; leave the key out");
    // Byte 4 of a block tells its byte order: the mark's low byte must be 0
    // (little-endian) and its high byte non-zero (big-endian) to be read back.
    if ((h.layout.byteOrderMark & 0xFFu) != 0 || (order == ByteOrder::Big && (h.layout.byteOrderMark >> 24) == 0))
        bad("byteOrderMark", "a block with this mark would not read back in its own byte order; leave the key out");

    const ordered_json &strokes = j["strokes"];
    if (!strokes.is_null() && !strokes.is_array()) bad("strokes", "expected an array of strokes, or null");
    if (strokes.is_array() && strokes.size() > static_cast<size_t>(INT32_MAX)) bad("strokes", "too many strokes");

    std::vector<FlatStrokeRecord> records;
    std::vector<uint8_t> samples;  // every sample block, in stroke order
    if (strokes.is_array()) {
        for (size_t i = 0; i < strokes.size(); ++i) {
            const std::string where = "strokes[" + std::to_string(i) + "]";
            const ordered_json &js = strokes[i];
            onlyKeys(js,
                     {"strokeId", "startTime", "duration", "brush", "drawCount", "selected", "pointCount",
                      "hasPoints", "points", "extraSampleBytes"},
                     where);
            if (!js.contains("startTime")) bad(where, "missing \"startTime\"");
            if (!js.contains("points") || !js["points"].is_array())
                bad(where, "missing \"points\" (an array of [time, x, y, pressure])");
            FlatStrokeRecord r{};
            r.info.strokeId = js.contains("strokeId") ? jsonToI32(js["strokeId"], where + ".strokeId")
                                                 : static_cast<int32_t>(i);
            r.info.startTime = jsonToFloat(js["startTime"], where + ".startTime");
            r.info.brush = js.contains("brush") ? brushFromJson(js["brush"], where + ".brush") : pennaro::DEFAULT_BRUSH;
            r.info.drawCount = js.contains("drawCount") ? jsonToI32(js["drawCount"], where + ".drawCount") : 0;
            r.info.selected = js.contains("selected") ? jsonToI32(js["selected"], where + ".selected") : 0;
            r.hasPoints = js.contains("hasPoints") ? jsonToU32(js["hasPoints"], where + ".hasPoints") : 1;
            const ordered_json &points = js["points"];
            r.flatPointOffset = static_cast<uint32_t>(pennaro::FLAT_HEADER_SIZE + samples.size());
            float lastTime = 0.0f;
            for (size_t k = 0; k < points.size(); ++k) {
                const std::string pw = where + ".points[" + std::to_string(k) + "]";
                const ordered_json &p = points[k];
                if (!p.is_array() || p.size() != 4) bad(pw, "expected [time, x, y, pressure]");
                pennaro::PaintPoint pt{jsonToFloat(p[0], pw + "[0]"), jsonToFloat(p[1], pw + "[1]"),
                                       jsonToFloat(p[2], pw + "[2]"), jsonToFloat(p[3], pw + "[3]")};
                lastTime = pt.time;
                const size_t at = samples.size();
                samples.resize(at + sizeof pt);
                std::memcpy(samples.data() + at, &pt, sizeof pt);
            }
            if (points.size() > static_cast<size_t>(INT32_MAX) / pennaro::POINT_RECORD_SIZE)
                bad(where, "too many samples");
            r.info.pointCount = js.contains("pointCount") ? jsonToI32(js["pointCount"], where + ".pointCount")
                                                     : static_cast<int32_t>(points.size());
            if (r.info.pointCount < 0 || static_cast<size_t>(r.info.pointCount) > points.size())
                bad(where + ".pointCount", "must be from 0 to the number of samples given");
            r.info.duration = js.contains("duration") ? jsonToFloat(js["duration"], where + ".duration") : lastTime;
            if (js.contains("extraSampleBytes")) {
                const auto extra = bytesFromHex(js["extraSampleBytes"], where + ".extraSampleBytes");
                if (extra.size() >= pennaro::POINT_RECORD_SIZE)
                    bad(where + ".extraSampleBytes", "holds a whole sample; put it in \"points\"");
                samples.insert(samples.end(), extra.begin(), extra.end());
            }
            r.flatPointBytes = static_cast<uint32_t>(pennaro::FLAT_HEADER_SIZE + samples.size() - r.flatPointOffset);
            records.push_back(r);
            if (samples.size() > UINT32_MAX / 2) bad(where, "drawing too large for a saved block");
        }
    }
    h.layout.strokeCount = static_cast<int32_t>(records.size());
    if (strokes.is_array()) {
        h.strokeTableSize = static_cast<uint32_t>(records.size() * pennaro::FLAT_STROKE_RECORD_SIZE);
        h.strokeTableOffset = static_cast<uint32_t>(pennaro::FLAT_HEADER_SIZE + samples.size());
    }

    std::vector<uint8_t> block(sizeof h + samples.size() + records.size() * sizeof(FlatStrokeRecord));
    std::memcpy(block.data(), &h, sizeof h);
    if (!samples.empty()) std::memcpy(block.data() + sizeof h, samples.data(), samples.size());
    if (!records.empty())
        std::memcpy(block.data() + sizeof h + samples.size(), records.data(),
                    records.size() * sizeof(FlatStrokeRecord));
    const auto check = pennaro::checkBlockStructure(block.data(), block.size());
    if (check.problem != pennaro::BlockProblem::None)
        bad("drawing", describeProblem(check, block.size()));
    if (order == ByteOrder::Big) swapWordBytes(block);
    return block;
}

ordered_json parseDrawingJson(const std::vector<uint8_t> &bytes, const std::string &name) {
    return parseOrderedJsonInput(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()), name,
                                 JsonInputRules{.floatRange = true});
}

std::string formatDrawingJson(const ordered_json &drawing) {
    std::ostringstream os;
    writeJson(os, drawing, 0);
    os << "\n";
    return os.str();
}

double drawingEndTime(const std::vector<uint8_t> &block) {
    const auto h = pennaro::readRecord<FlatDrawingHeader>(block.data(), 0);
    double end = 0.0;
    bool any = false;
    if (h.hasStrokeTable == 0) return 0.0;
    for (int32_t i = 0; i < h.layout.strokeCount; ++i) {
        const auto s = pennaro::readRecord<FlatStrokeRecord>(
            block.data(), h.strokeTableOffset + static_cast<uint64_t>(i) * pennaro::FLAT_STROKE_RECORD_SIZE);
        const double e = static_cast<double>(s.info.startTime) + static_cast<double>(s.info.duration);
        if (!std::isfinite(e)) continue;
        if (!any || e > end) end = e;
        any = true;
    }
    return end;
}

LoadedDrawing loadDrawingBytes(const std::vector<uint8_t> &bytes, const std::string &name) {
    LoadedDrawing d;
    refuseOtherForms(bytes, name);
    if (looksLikeJson(bytes)) {
        d.kind = DrawingFileKind::Json;
        try {
            d.block = jsonToBlock(parseDrawingJson(bytes, name));
        } catch (const ToolError &e) {
            const std::string what = e.what();
            if (what.rfind(name + ":", 0) == 0) throw;
            throw ToolError(name + ": " + what);
        }
        d.fileByteOrder = ByteOrder::Little;
    } else {
        d.kind = DrawingFileKind::Block;
        d.block = normalizeBlock(bytes, name);
        d.fileByteOrder = detectByteOrder(bytes);
    }
    d.endTime = drawingEndTime(d.block);
    return d;
}

namespace {

// Reads from a pipe or device only what the drawing it starts with can
// hold: the form is told from the first bytes, a block is read up to the
// end its header and stroke table give, JSON up to a fixed cap.
class StreamReader {
public:
    StreamReader(const std::filesystem::path &path) : name_(path.string()) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) throw ToolError("cannot read " + name_ + ": " + std::strerror(errno));
    }
    ~StreamReader() { ::close(fd_); }
    StreamReader(const StreamReader &) = delete;
    StreamReader &operator=(const StreamReader &) = delete;

    std::vector<uint8_t> bytes;

    // Reads until `size` bytes are held or the stream ends.
    bool fill(uint64_t size) {
        while (bytes.size() < size && !ended_) {
            const size_t at = bytes.size();
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size - at, 1u << 16));
            bytes.resize(at + chunk);
            const ssize_t got = ::read(fd_, bytes.data() + at, chunk);
            if (got < 0 && errno == EINTR) {
                bytes.resize(at);
                continue;
            }
            if (got < 0) throw ToolError("cannot read " + name_ + ": " + std::strerror(errno));
            bytes.resize(at + static_cast<size_t>(got));
            ended_ = got == 0;
        }
        return bytes.size() >= size;
    }
    bool ended() const { return ended_; }

private:
    std::string name_;
    int fd_ = -1;
    bool ended_ = false;
};

// A block from a stream is at most what 32-bit offsets can reach.
constexpr uint64_t STREAM_BLOCK_MAX_BYTES = uint64_t{1} << 32;

std::vector<uint8_t> readDrawingStream(const std::filesystem::path &path) {
    StreamReader in(path);
    const std::string name = path.string();
    auto isBlank = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    in.fill(8);
    refuseOtherForms(in.bytes, name);
    size_t first = utf8BomLength(in.bytes.data(), in.bytes.size());
    while (true) {  // blanks before the first character of JSON
        while (first < in.bytes.size() && isBlank(in.bytes[first])) ++first;
        if (first < in.bytes.size() || in.ended() || first > JSON_STREAM_MAX_BYTES) break;
        in.fill(in.bytes.size() + (1u << 16));
    }
    if (first >= in.bytes.size() || looksLikeJson(in.bytes)) {
        if (in.fill(JSON_STREAM_MAX_BYTES + 1))
            throw ToolError(name + ": more than " + std::to_string(JSON_STREAM_MAX_BYTES >> 20) +
                            " MB of JSON from a pipe or device; save it to a file first");
        return in.bytes;
    }
    // A block: the byte-order mark tells how to read the header's words.
    if (!in.fill(8)) return in.bytes;
    const bool swapped = in.bytes[BYTE_ORDER_MARK_OFFSET] != 0;
    static const uint8_t NOTHING[8] = {};
    if (std::memcmp(in.bytes.data(), NOTHING, 8) == 0) return in.bytes;  // zeros: neither form
    if (!in.fill(pennaro::FLAT_HEADER_SIZE)) return in.bytes;
    auto record = [&](auto type, uint64_t offset) {
        using T = decltype(type);
        return swapped ? pennaro::readSwappedRecord<T>(in.bytes.data(), in.bytes.size() & ~uint64_t{3}, offset)
                       : pennaro::readRecord<T>(in.bytes.data(), offset);
    };
    const auto h = record(FlatDrawingHeader{}, 0);
    if (h.layout.flatHeaderSize == 0) return in.bytes;  // the memory form: refused as it is
    uint64_t extent = pennaro::FLAT_HEADER_SIZE;
    const uint64_t strokes = h.layout.strokeCount > 0 && h.hasStrokeTable ? uint64_t(h.layout.strokeCount) : 0;
    const uint64_t tableEnd = uint64_t(h.strokeTableOffset) + strokes * pennaro::FLAT_STROKE_RECORD_SIZE;
    if (tableEnd > STREAM_BLOCK_MAX_BYTES) return in.bytes;  // cannot hold: refused as too short
    extent = std::max(extent, tableEnd);
    if (!in.fill(extent)) return in.bytes;
    for (uint64_t i = 0; i < strokes; ++i) {
        const auto s = record(FlatStrokeRecord{}, h.strokeTableOffset + i * pennaro::FLAT_STROKE_RECORD_SIZE);
        extent = std::max(extent, uint64_t(s.flatPointOffset) + s.flatPointBytes);
    }
    in.fill(std::min(extent, STREAM_BLOCK_MAX_BYTES));
    return in.bytes;
}

}  // namespace

std::vector<uint8_t> readDrawingFileBytes(const std::filesystem::path &path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_directory(status)) throw ToolError(path.string() + " is a folder, not a drawing");
    if (ec || std::filesystem::is_regular_file(status)) return readFileBytes(path);
    return readDrawingStream(path);
}

DrawingSummary summarizeDrawing(const std::vector<uint8_t> &block, ByteOrder fileOrder) {
    DrawingSummary sum;
    const auto h = pennaro::readRecord<FlatDrawingHeader>(block.data(), 0);
    sum.formatVersion = h.layout.formatVersion;
    sum.byteOrder = fileOrder;
    sum.strokeCount = h.layout.strokeCount;
    if (h.hasStrokeTable == 0) return sum;
    for (int32_t i = 0; i < h.layout.strokeCount; ++i) {
        const auto s = pennaro::readRecord<FlatStrokeRecord>(
            block.data(), h.strokeTableOffset + static_cast<uint64_t>(i) * pennaro::FLAT_STROKE_RECORD_SIZE);
        sum.sampleCount += static_cast<uint64_t>(s.info.pointCount);
        switch (s.info.brush.brushMode & pennaro::BRUSH_KIND_MASK) {
            case pennaro::BRUSH_KIND_ROUND: ++sum.roundStrokes; break;
            case pennaro::BRUSH_KIND_SOFT: ++sum.softStrokes; break;
            case pennaro::BRUSH_KIND_SQUARE: ++sum.squareStrokes; break;
            default: ++sum.otherStrokes; break;
        }
        if (s.info.brush.brushMode & pennaro::BRUSH_ERASE) ++sum.eraseStrokes;
        const double start = s.info.startTime;
        const double end = start + static_cast<double>(s.info.duration);
        if (std::isfinite(start) && std::isfinite(end)) {
            if (!sum.hasTime || start < sum.firstStart) sum.firstStart = start;
            if (!sum.hasTime || end > sum.lastEnd) sum.lastEnd = end;
            sum.hasTime = true;
        }
        for (int32_t k = 0; k < s.info.pointCount; ++k) {
            const auto p = pennaro::readRecord<pennaro::PaintPoint>(
                block.data(), s.flatPointOffset + static_cast<uint64_t>(k) * pennaro::POINT_RECORD_SIZE);
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
            if (!sum.hasBounds) {
                sum.minX = sum.maxX = p.x;
                sum.minY = sum.maxY = p.y;
                sum.hasBounds = true;
            }
            sum.minX = std::min(sum.minX, static_cast<double>(p.x));
            sum.maxX = std::max(sum.maxX, static_cast<double>(p.x));
            sum.minY = std::min(sum.minY, static_cast<double>(p.y));
            sum.maxY = std::max(sum.maxY, static_cast<double>(p.y));
        }
    }
    return sum;
}

std::string formatSummary(const DrawingSummary &s, const std::string &name, DrawingFileKind kind) {
    char line[256];
    std::string out = name + ": Pennaro drawing (" +
                      (kind == DrawingFileKind::Json ? "JSON file" : "saved block") + ")\n";
    std::snprintf(line, sizeof line, "  format version  %" PRIu32 "%s\n", s.formatVersion,
                  s.formatVersion == pennaro::FORMAT_VERSION ? "" : " (the effect opens only version 272)");
    out += line;
    out += std::string("  byte order      ") +
           (kind == DrawingFileKind::Json ? "none (JSON text)"
                                          : (s.byteOrder == ByteOrder::Little ? "little-endian" : "big-endian")) +
           "\n";
    std::snprintf(line, sizeof line, "  strokes         %" PRId32 "\n  samples         %" PRIu64 "\n",
                  s.strokeCount, s.sampleCount);
    out += line;
    if (s.hasTime)
        std::snprintf(line, sizeof line, "  time span       %.3f s to %.3f s\n", s.firstStart, s.lastEnd);
    else
        std::snprintf(line, sizeof line, "  time span       none\n");
    out += line;
    std::string kinds;
    auto add = [&](uint32_t n, const char *what) {
        if (!n) return;
        if (!kinds.empty()) kinds += ", ";
        kinds += std::to_string(n) + " " + what;
    };
    add(s.roundStrokes, "round");
    add(s.softStrokes, "soft round");
    add(s.squareStrokes, "square");
    add(s.otherStrokes, "unknown kind");
    if (kinds.empty()) kinds = "none";
    if (s.eraseStrokes) kinds += " (" + std::to_string(s.eraseStrokes) + " erasing)";
    out += "  brushes         " + kinds + "\n";
    if (s.hasBounds)
        std::snprintf(line, sizeof line,
                      "  bounding box    x %.4f to %.4f, y %.4f to %.4f (fractions of the layer)\n", s.minX,
                      s.maxX, s.minY, s.maxY);
    else
        std::snprintf(line, sizeof line, "  bounding box    none\n");
    out += line;
    return out;
}

}  // namespace pennaro_cli
