#include "cli/render/options.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string_view>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numeric>
#include <limits>
#include <cerrno>
#include <cstdio>
#include <set>

#include <unistd.h>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/core/json_reader.h"
#include "catalog/params.h"

namespace pennaro_cli {

namespace {

std::string lower(std::string text) {
    for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string &text) {
    size_t a = text.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    size_t b = text.find_last_not_of(" \t");
    return text.substr(a, b - a + 1);
}

// A whole decimal integer, the whole text, within [lo, hi].
bool parseInteger(const std::string &text, int64_t lo, int64_t hi, int64_t &out) {
    if (text.empty()) return false;
    const char *first = text.data();
    if (*first == '+') ++first;
    auto [end, ec] = std::from_chars(first, text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= lo && out <= hi;
}

bool parseReal(const std::string &text, double &out) {
    std::string t = trim(text);
    if (t.empty()) return false;
    const char *first = t.data();
    if (*first == '+') ++first;
    auto [end, ec] = std::from_chars(first, t.data() + t.size(), out);
    return ec == std::errc() && end == t.data() + t.size() && std::isfinite(out);
}

}  // namespace

// ---------------------------------------------------------------- numbers

Rational parseRational(const std::string &text, const std::string &what) {
    std::string t = trim(text);
    size_t slash = t.find('/');
    int64_t num = 0, den = 1;
    bool ok = parseInteger(slash == std::string::npos ? t : t.substr(0, slash), INT32_MIN, INT32_MAX, num);
    if (ok && slash != std::string::npos) ok = parseInteger(t.substr(slash + 1), 1, UINT32_MAX, den);
    if (!ok) throw UsageError(what + ": '" + text + "' is not an integer or a fraction N/D with D > 0");
    return Rational{int32_t(num), uint32_t(den)};
}

namespace {

const std::string TERM_MAX_TEXT = std::to_string(INT32_MAX);

// N or N/D with both terms from 1 to INT32_MAX, so that either fits any of
// the host's fields, the signed time step included.
Rational positiveRational(const std::string &text, const std::string &what, const std::string &allowed) {
    const Rational r = parseRational(text, what);
    if (r.num < 1 || r.den > uint32_t(INT32_MAX))
        throw UsageError(what + ": '" + text + "' is outside the allowed range: " + allowed);
    return r;
}

int32_t wholeAboveZero(const std::string &text, const std::string &what) {
    int64_t value = 0;
    if (!parseInteger(trim(text), 1, INT32_MAX, value))
        throw UsageError(what + ": '" + text + "' is not a whole number from 1 to " + TERM_MAX_TEXT);
    return int32_t(value);
}

}  // namespace

Rational parseFrameRate(const std::string &text) {
    const std::string allowed = "a whole number, N/D with N and D from 1 to " + TERM_MAX_TEXT +
                                " or an exact decimal (such as 24, 30000/1001, 12.5 or 29.97)";
    const std::string t = trim(text);
    const size_t point = t.find('.');
    if (point == std::string::npos) return positiveRational(text, "--fps", allowed);
    // A decimal as the exact ratio of its digits, reduced.
    const std::string whole = t.substr(0, point), fraction = t.substr(point + 1);
    int64_t wholePart = 0, fractionPart = 0;
    if ((!whole.empty() && !parseInteger(whole, 0, INT32_MAX, wholePart)) || fraction.empty() ||
        fraction.size() > 9 || fraction.find_first_not_of("0123456789") != std::string::npos ||
        !parseInteger(fraction, 0, 999999999, fractionPart))
        throw UsageError("--fps: '" + text + "' is not a frame rate: use " + allowed);
    int64_t den = 1;
    for (size_t i = 0; i < fraction.size(); ++i) den *= 10;
    int64_t num = wholePart * den + fractionPart;
    const int64_t common = std::gcd(num, den);
    if (num == 0) throw UsageError("--fps: '" + text + "' is outside the allowed range: " + allowed);
    num /= common, den /= common;
    // The rounded rates of NTSC video stand for their exact ratios.
    static const struct {
        int64_t num, den;
        int32_t exactNum;
    } ntsc[] = {{2997, 125, 24000}, {1199, 50, 24000}, {2997, 100, 30000},
                {5994, 125, 48000}, {2997, 50, 60000}, {2997, 25, 120000}};
    for (const auto &n : ntsc)
        if (n.num == num && n.den == den) return Rational{n.exactNum, 1001};
    // Tenths, quarters and eighths (12.5, 7.5, 6.25) are rates as they stand;
    // a decimal with more digits is most likely a rounded one, and rendering
    // it as written would drift from the rate meant.
    if (den <= 10 && num <= INT32_MAX) return Rational{int32_t(num), uint32_t(den)};
    const double value = double(num) / double(den);
    Rational nearest{int32_t(std::llround(value * 10)), 10};
    for (const auto &n : ntsc) {
        const double exact = double(n.exactNum) / 1001.0;
        if (std::abs(exact - value) < std::abs(double(nearest.num) / nearest.den - value))
            nearest = Rational{n.exactNum, 1001};
    }
    const int64_t g = std::gcd(int64_t(nearest.num), int64_t(nearest.den));
    const std::string suggestion =
        std::to_string(nearest.num / g) + (nearest.den / g == 1 ? "" : "/" + std::to_string(nearest.den / g));
    throw UsageError("--fps: '" + text + "' is not an exact frame rate; the nearest is " + suggestion +
                     " (use " + allowed + ")");
}

Timing parseTiming(const std::string &fps, const std::string &timeScale, const std::string &timeStep,
                   const std::string &localTimeStep) {
    const Rational rate = parseFrameRate(fps);
    Timing timing{uint32_t(rate.num), int32_t(rate.den), int32_t(rate.den)};
    if (!timeScale.empty()) timing.timeScale = uint32_t(wholeAboveZero(timeScale, "--time-scale"));
    if (!timeStep.empty()) timing.timeStep = timing.localTimeStep = wholeAboveZero(timeStep, "--time-step");
    if (!localTimeStep.empty()) timing.localTimeStep = wholeAboveZero(localTimeStep, "--local-time-step");
    return timing;
}

Rational parsePixelAspect(const std::string &text) {
    // Beyond a hundred to one, a dab would be smeared across thousands of
    // pixels; no camera or display has such pixels.
    const std::string allowed = "N/D with N and D from 1 to " + TERM_MAX_TEXT + " and N/D from 1/100 to 100 "
                                "(such as 1/1 or 10/11)";
    const Rational r = positiveRational(text, "--pixel-aspect", allowed);
    if (int64_t(r.num) * 100 < int64_t(r.den) || int64_t(r.num) > int64_t(r.den) * 100)
        throw UsageError("--pixel-aspect: '" + text + "' is outside the allowed range: " + allowed);
    return r;
}

std::array<Rational, 2> parseDownsample(const std::string &text) {
    // A host only ever shrinks the images it asks for.
    const std::string allowed = "fractions N/D with 1 <= N <= D <= " + TERM_MAX_TEXT + " (such as 1/2 or 1/2,1/3)";
    size_t comma = text.find(',');
    Rational x = positiveRational(text.substr(0, comma), "--downsample", allowed);
    Rational y = comma == std::string::npos ? x : positiveRational(text.substr(comma + 1), "--downsample", allowed);
    for (const Rational &r : {x, y})
        if (uint32_t(r.num) > r.den) throw UsageError("--downsample: '" + text + "' is outside the allowed range: " + allowed);
    return {x, y};
}

int32_t scaledExtent(int32_t extent, Rational factor) {
    int64_t product = int64_t(extent) * factor.num;
    int64_t result = (product + int64_t(factor.den) - 1) / int64_t(factor.den);
    if (result < 1 || result > 1 << 16) throw ToolError("the downsampled image would be empty or too large");
    return int32_t(result);
}

std::vector<int32_t> parseFrameList(const std::string &text) {
    std::vector<int32_t> frames;
    std::set<int32_t> seen;
    auto bad = [&](const std::string &why) {
        return UsageError("--frames: '" + text + "': " + why + " (use N, A-B, A-BxSTEP or a list such as 1,5,10-20x2, frames from " +
                          std::to_string(-FRAME_NUMBER_LIMIT) + " to " + std::to_string(FRAME_NUMBER_LIMIT) + ")");
    };
    size_t at = 0;
    if (trim(text).empty()) throw bad("no frames");
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        std::string item = trim(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (item.empty()) throw bad("empty item");
        // The range dash is the first '-' that follows a digit.
        size_t dash = std::string::npos;
        for (size_t i = 1; i < item.size(); ++i)
            if (item[i] == '-' && std::isdigit(static_cast<unsigned char>(item[i - 1]))) {
                dash = i;
                break;
            }
        int64_t a = 0, b = 0, step = 1;
        const int64_t limit = FRAME_NUMBER_LIMIT;
        // A range may take every STEP-th frame: "1-100x2" is 1, 3, ..., 99.
        if (const size_t x = item.find('x'); dash != std::string::npos && x != std::string::npos && x > dash) {
            if (!parseInteger(trim(item.substr(x + 1)), 1, limit, step)) throw bad("'" + item + "' has no valid step");
            item = trim(item.substr(0, x));
        }
        if (dash == std::string::npos) {
            if (!parseInteger(item, -limit, limit, a)) throw bad("'" + item + "' is not a frame number");
            b = a;
        } else if (!parseInteger(trim(item.substr(0, dash)), -limit, limit, a) ||
                   !parseInteger(trim(item.substr(dash + 1)), -limit, limit, b)) {
            throw bad("'" + item + "' is not a range of frames");
        }
        if (b < a) throw bad("the range '" + item + "' runs backwards");
        for (int64_t f = a; f <= b; f += step) {
            if (seen.insert(int32_t(f)).second) frames.push_back(int32_t(f));
            if (frames.size() > size_t(FRAME_COUNT_LIMIT))
                throw bad("more than " + std::to_string(FRAME_COUNT_LIMIT) + " frames");
        }
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return frames;
}

std::vector<int32_t> defaultFrameRange(double endTime, const Timing &timing, const std::string &drawingName,
                                       double revealSpeed) {
    double last = std::floor(endTime * double(timing.timeScale) / double(timing.timeStep));
    if (revealSpeed > 0 && last < DEFAULT_FRAME_COUNT_LIMIT) {
        // The frame whose drawing time, as the effect computes it (host time
        // over time scale, times the speed), has reached the end of the last
        // stroke: the first to show every stroke complete.
        last = std::max(0.0, std::floor(endTime / revealSpeed * double(timing.timeScale) / double(timing.timeStep)) - 1);
        while (last < DEFAULT_FRAME_COUNT_LIMIT &&
               double(int64_t(last) * timing.timeStep) / double(timing.timeScale) * revealSpeed < endTime)
            ++last;
    }
    if (!(last < DEFAULT_FRAME_COUNT_LIMIT)) {
        // The drawing asks for it, not the command line: a refused input.
        char text[160];
        std::snprintf(text, sizeof text, "its last stroke ends at %g s, frame %.15g, and frames 0 to that one", endTime,
                      last);
        throw ToolError(drawingName + ": " + text + " are more than " + std::to_string(DEFAULT_FRAME_COUNT_LIMIT) +
                        " frames to render by default; choose the frames with --frames (such as --frames 0-99, "
                        "frames from " + std::to_string(-FRAME_NUMBER_LIMIT) + " to " +
                        std::to_string(FRAME_NUMBER_LIMIT) + ")");
    }
    std::vector<int32_t> frames;
    for (int32_t f = 0; f <= (last > 0 ? int32_t(last) : 0); ++f) frames.push_back(f);
    return frames;
}

void checkFrameTimes(const std::vector<int32_t> &frames, int32_t timeStep, bool chosen) {
    const int64_t lowest = INT32_MIN / int64_t(timeStep), highest = INT32_MAX / int64_t(timeStep);
    for (int32_t f : frames) {
        if (f >= lowest && f <= highest) continue;
        const std::string why = "frame " + std::to_string(f) + " at a time step of " + std::to_string(timeStep) +
                                " lies beyond the host's clock (frames from " + std::to_string(lowest) + " to " +
                                std::to_string(highest) + " at this time step)";
        if (chosen) throw UsageError("--frames: " + why);
        throw ToolError(why + "; choose the frames with --frames");
    }
}

std::vector<int32_t> frameChunk(const std::vector<int32_t> &frames, const std::string &text) {
    const auto slash = text.find('/');
    auto whole = [&text](const std::string &part) -> int64_t {
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError("--chunk: '" + text + "' must be K/N with whole numbers, such as 3/10");
        return std::stoll(part);
    };
    if (slash == std::string::npos)
        throw UsageError("--chunk: '" + text + "' must be K/N with whole numbers, such as 3/10");
    const int64_t k = whole(text.substr(0, slash));
    const int64_t n = whole(text.substr(slash + 1));
    if (n < 1 || k < 1 || k > n)
        throw UsageError("--chunk: '" + text + "' needs 1 <= K <= N (chunks count from 1)");
    const int64_t total = int64_t(frames.size());
    const int64_t base = total / n, larger = total % n;
    const int64_t index = k - 1;
    const int64_t begin = index * base + std::min(index, larger);
    const int64_t size = base + (index < larger ? 1 : 0);
    return std::vector<int32_t>(frames.begin() + begin, frames.begin() + begin + size);
}

std::array<int32_t, 2> parseSize(const std::string &text) {
    size_t x = lower(text).find('x');
    int64_t w = 0, h = 0;
    if (x == std::string::npos || !parseInteger(trim(text.substr(0, x)), 1, 30000, w) ||
        !parseInteger(trim(text.substr(x + 1)), 1, 30000, h))
        throw UsageError("--size: '" + text + "' is not WxH with both from 1 to 30000 (such as 1920x1080)");
    return {int32_t(w), int32_t(h)};
}

std::array<int32_t, 2> parseOrigin(const std::string &text) {
    size_t comma = text.find(',');
    int64_t x = 0, y = 0;
    if (comma == std::string::npos || !parseInteger(trim(text.substr(0, comma)), INT32_MIN, INT32_MAX, x) ||
        !parseInteger(trim(text.substr(comma + 1)), INT32_MIN, INT32_MAX, y))
        throw UsageError("--origin: '" + text + "' is not X,Y in whole pixels (such as 5,-3)");
    return {int32_t(x), int32_t(y)};
}

// ---------------------------------------------------------------- backgrounds

namespace {
const std::map<std::string, std::array<uint8_t, 4>> namedColours = {
    {"black", {0, 0, 0, 255}},      {"white", {255, 255, 255, 255}}, {"grey", {128, 128, 128, 255}},
    {"gray", {128, 128, 128, 255}}, {"red", {255, 0, 0, 255}},       {"green", {0, 255, 0, 255}},
    {"blue", {0, 0, 255, 255}},
};
}  // namespace

const std::vector<std::string> &backgroundNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all{"transparent", "checker", "gradient"};
        for (const auto &[name, rgba] : namedColours)
            if (name != "gray") all.push_back(name);  // one spelling in menus
        return all;
    }();
    return names;
}

Background parseBackground(const std::string &text) {
    std::string t = lower(trim(text));
    Background b;
    if (t == "transparent" || t == "none") return b;
    if (t == "checker") {
        b.kind = Background::Checker;
        return b;
    }
    if (t == "gradient") {
        b.kind = Background::Gradient;
        return b;
    }
    if (auto it = namedColours.find(t); it != namedColours.end()) {
        b.rgba = it->second;
        return b;
    }
    if (!t.empty() && t[0] == '#' && (t.size() == 7 || t.size() == 9) &&
        t.find_first_not_of("0123456789abcdef", 1) == std::string::npos) {
        for (size_t c = 0; c < 4; ++c)
            b.rgba[c] = c * 2 + 1 < t.size() ? uint8_t(std::stoi(t.substr(c * 2 + 1, 2), nullptr, 16)) : 255;
        return b;
    }
    throw UsageError("--background: '" + text +
                    "' is not transparent, a colour (#RRGGBB, #RRGGBBAA, black, white, grey, red, green, "
                    "blue) or a pattern (checker, gradient)");
}

std::array<uint8_t, 4> backgroundAt(const Background &background, int32_t x, int32_t y, int32_t width,
                                    int32_t height) {
    switch (background.kind) {
    case Background::Checker: {
        bool light = ((x / 16) + (y / 16)) % 2 == 0;
        uint8_t v = light ? 204 : 153;
        return {v, v, v, 255};
    }
    case Background::Gradient: {
        // Red across, green down, blue along the diagonal, alpha fading in from the left edge.
        auto ramp = [](int64_t at, int64_t extent) {
            return uint8_t(extent > 1 ? at * 255 / (extent - 1) : 0);
        };
        return {ramp(x, width), ramp(y, height), ramp(int64_t(x) + y, int64_t(width) + height - 1),
                uint8_t(64 + ramp(x, width) * 191 / 255)};
    }
    case Background::Colour:
        break;
    }
    return background.rgba;
}

// ---------------------------------------------------------------- file names

namespace {

// Where the frame number goes, in the last path component only (so that a
// folder named "take#2" stays a folder name): the first run of '#', the
// first printf-style "%d" / "%04d", or the first "$F" / "$F4", whichever
// comes first. `width` is the zero-padded width.
struct Placeholder {
    size_t start = std::string::npos, end = 0, width = 1;
};

Placeholder placeholderIn(const std::string &pattern) {
    const size_t slash = pattern.rfind('/');
    for (size_t i = slash == std::string::npos ? 0 : slash + 1; i < pattern.size(); ++i) {
        if (pattern[i] == '#') {
            const size_t end = std::min(pattern.find_first_not_of('#', i), pattern.size());
            return {i, end, end - i};
        }
        if (pattern[i] == '%' || (pattern[i] == '$' && i + 1 < pattern.size() && pattern[i + 1] == 'F')) {
            const bool printf = pattern[i] == '%';
            size_t at = i + 1 + (printf ? 0 : 1);
            size_t width = 0;
            while (at < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[at])) && width < 100)
                width = width * 10 + size_t(pattern[at++] - '0');
            if (printf && (at >= pattern.size() || pattern[at] != 'd')) continue;
            return {i, at + (printf ? 1 : 0), std::max<size_t>(width, 1)};
        }
    }
    return {};
}

}  // namespace

bool hasFramePlaceholder(const std::string &pattern) { return placeholderIn(pattern).start != std::string::npos; }

std::string frameFileName(const std::string &pattern, int32_t frame) {
    const Placeholder p = placeholderIn(pattern);
    if (p.start == std::string::npos) return pattern;
    std::string digits = std::to_string(frame < 0 ? -int64_t(frame) : int64_t(frame));
    if (digits.size() < p.width) digits.insert(0, p.width - digits.size(), '0');
    if (frame < 0) digits.insert(0, 1, '-');
    return pattern.substr(0, p.start) + digits + pattern.substr(p.end);
}

std::optional<int32_t> frameOfFileName(const std::string &pattern, const std::string &name) {
    const Placeholder p = placeholderIn(pattern);
    if (p.start == std::string::npos) return std::nullopt;
    const std::string prefix = pattern.substr(0, p.start), suffix = pattern.substr(p.end);
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    int64_t frame = 0;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.find_first_not_of("-0123456789") != std::string::npos ||
        !parseInteger(digits, -FRAME_NUMBER_LIMIT, FRAME_NUMBER_LIMIT, frame) ||
        frameFileName(pattern, int32_t(frame)) != name)
        return std::nullopt;
    return int32_t(frame);
}

void checkOutputName(const std::filesystem::path &path, const std::string &option) {
    const std::string name = path.filename().string();
    // The limit is the file system's, so ask the nearest folder that exists.
    std::filesystem::path dir = path.parent_path();
    std::error_code ec;
    while (!dir.empty() && !std::filesystem::is_directory(dir, ec)) dir = dir.parent_path();
    errno = 0;
    const long nameMax = pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0) return;  // no limit, or none to be found: the write itself will tell
    // The file is first written beside itself under a longer name; a worker's
    // process number may have as many digits as the largest the system gives.
    const size_t temporary = temporaryName(name, 4194304, "000000").size();
    if (temporary <= size_t(nameMax)) return;
    throw UsageError(option + ": the file name '" + name + "' is " + std::to_string(name.size()) +
                     " bytes long; names in " + (dir.empty() ? std::string(".") : dir.string()) + " may be at most " +
                     std::to_string(nameMax - long(temporary - name.size())) +
                     " bytes, leaving room for the temporary name the file is first written under");
}

// ---------------------------------------------------------------- parameters

namespace {

std::vector<std::string> splitChoices(std::string_view list) {
    std::vector<std::string> choices;
    size_t at = 0;
    for (size_t bar = list.find('|'); bar != std::string_view::npos; bar = list.find('|', at)) {
        choices.emplace_back(list.substr(at, bar - at));
        at = bar + 1;
    }
    choices.emplace_back(list.substr(at));
    return choices;
}

}  // namespace

const std::vector<ParamInfo> &effectParams() {
    // Every parameter with a value, from the effect's own table, in the
    // order the host shows them.
    static const std::vector<ParamInfo> params = [] {
        using namespace pennaro;
        std::vector<ParamInfo> list;
        for (const ParamEntry &entry : PARAM_TABLE) {
            if (!entry.option) continue;
            ParamInfo info{entry.option, entry.index, ParamKind::Slider, 0, 0, {}, entry.defaultValue};
            if (entry.kind == pennaro::ParamKind::Popup) {
                info.kind = ParamKind::Popup;
                info.choices = splitChoices(messageText(entry.textMessage));
            } else if (entry.kind == pennaro::ParamKind::Checkbox) {
                info.kind = ParamKind::Checkbox;
            } else {
                info.validMin = entry.validMin / 65536.0;
                info.validMax = entry.validMax / 65536.0;
            }
            list.push_back(info);
        }
        return list;
    }();
    return params;
}

const ParamInfo *findParam(const std::string &name) {
    std::string wanted = lower(name);
    std::replace(wanted.begin(), wanted.end(), '_', '-');
    if (wanted.rfind("--", 0) == 0) wanted = wanted.substr(2);
    for (const ParamInfo &p : effectParams())
        if (wanted == p.option) return &p;
    return nullptr;
}

int32_t sliderToFixed(double value) {
    double scaled = std::round(value * 65536.0);  // std::round: halves away from zero
    if (scaled < double(INT32_MIN) || scaled > double(INT32_MAX)) throw UsageError("slider value out of range");
    return int32_t(scaled);
}

namespace {

std::string choiceList(const ParamInfo &param) {
    std::string list;
    for (size_t i = 0; i < param.choices.size(); ++i) {
        if (param.choices[i] == "(-") continue;
        if (!list.empty()) list += ", ";
        list += std::to_string(i + 1) + " \"" + param.choices[i] + "\"";
    }
    return list;
}

}  // namespace

ParamValue parseParamValue(const ParamInfo &param, const std::string &text) {
    std::string t = trim(text);
    std::string where = std::string("--") + param.option;
    ParamValue value;
    switch (param.kind) {
    case ParamKind::Popup: {
        int64_t n = 0;
        if (parseInteger(t, INT32_MIN, INT32_MAX, n)) {
            if (n < 1 || n > int64_t(param.choices.size()) || param.choices[size_t(n - 1)] == "(-")
                throw UsageError(where + ": " + t + " is not a choice; choose one of " + choiceList(param));
            value.stored = int32_t(n);
            return value;
        }
        for (size_t i = 0; i < param.choices.size(); ++i) {
            if (param.choices[i] != "(-" && lower(param.choices[i]) == lower(t)) {
                value.stored = int32_t(i + 1);
                return value;
            }
        }
        throw UsageError(where + ": '" + t + "' is not a choice; choose one of " + choiceList(param));
    }
    case ParamKind::Checkbox: {
        std::string v = lower(t);
        if (v == "on" || v == "1" || v == "true" || v == "yes") value.stored = 1;
        else if (v == "off" || v == "0" || v == "false" || v == "no") value.stored = 0;
        else throw UsageError(where + ": '" + t + "' is not on, off, 1 or 0");
        return value;
    }
    case ParamKind::Slider: {
        double v = 0.0;
        if (!parseReal(t, v)) throw UsageError(where + ": '" + t + "' is not a number");
        int32_t fixed = sliderToFixed(v);
        if (fixed < sliderToFixed(param.validMin) || fixed > sliderToFixed(param.validMax)) {
            char range[96];
            std::snprintf(range, sizeof range, "%g to %g", param.validMin, param.validMax);
            throw UsageError(where + ": " + t + " is outside the valid range " + range);
        }
        value.stored = fixed;
        value.real = v;
        return value;
    }
    }
    return value;
}

ParamSettings defaultParamSettings() {
    ParamSettings settings;
    for (const ParamInfo &p : effectParams()) {
        ParamTrack track;
        track.constant.stored = p.defaultValue;
        track.constant.real = p.defaultValue / 65536.0;
        settings.tracks[p.index] = track;
    }
    return settings;
}

void setParamFromOption(ParamSettings &settings, const ParamInfo &param, const std::string &text) {
    ParamTrack &track = settings.tracks[param.index];
    if (track.keyed())
        throw UsageError(std::string("--") + param.option + " is also keyed in " + settings.origin[param.index] +
                        "; give it in one place only");
    track.constant = parseParamValue(param, text);
    settings.origin[param.index] = "the command line";
}

namespace {

std::string jsonValueText(const nlohmann::json &value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
    if (value.is_number()) return value.dump();
    throw ToolError("a value must be a number, a string or true/false, not " + quoteJson(value));
}

}  // namespace

void loadParamKeyframes(ParamSettings &settings, const std::string &jsonText, const std::string &fileName) {
    const nlohmann::json doc = parseJsonInput(jsonText, fileName);
    if (!doc.is_object())
        throw ToolError(fileName + ": expected an object such as {\"playback-speed\": [[0, 1.0], [48, 2.5]]}");
    for (const auto &[name, entry] : doc.items()) {
        const ParamInfo *param = findParam(name);
        std::string where = fileName + ": \"" + boundedText(name) + "\"";
        if (!param) throw ToolError(where + " is not a parameter of the effect");
        if (settings.origin.count(param->index))
            throw UsageError(where + " is also given on " + settings.origin[param->index] +
                            "; give it in one place only");
        ParamTrack track;
        try {
            if (!entry.is_array()) {
                track.constant = parseParamValue(*param, jsonValueText(entry));
            } else {
                if (entry.empty()) throw ToolError("no keys");
                for (const auto &key : entry) {
                    if (!key.is_array() || key.size() != 2 || !key[0].is_number())
                        throw ToolError("each key must be [frame, value], not " + quoteJson(key));
                    double frame = key[0].get<double>();
                    if (!track.keys.empty() && frame <= track.keys.back().first)
                        throw ToolError("key frames must increase, " + quoteJson(key[0]) + " does not");
                    track.keys.emplace_back(frame, parseParamValue(*param, jsonValueText(key[1])));
                }
            }
        } catch (const ToolError &e) {
            throw ToolError(where + ": " + e.what());
        }
        settings.tracks[param->index] = track;
        settings.origin[param->index] = fileName;
    }
}

}  // namespace pennaro_cli
