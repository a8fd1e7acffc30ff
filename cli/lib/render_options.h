// The values a render takes from the command line, parsed and checked
// before the effect sees any of them: rationals, frame lists, sizes, colours,
// output names, and the effect's parameters by name with their keyframes.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pennaro_cli {

struct Rational {
    int32_t num = 1;
    uint32_t den = 1;
};

// "N" or "N/D"; D must be positive. `what` names the option in errors.
Rational parseRational(const std::string &text, const std::string &what);
// "X" or "X,Y" (Y defaults to X), each a positive rational.
std::array<Rational, 2> parseDownsample(const std::string &text);
// ⌈extent × factor⌉ for a positive factor.
int32_t scaledExtent(int32_t extent, Rational factor);

// "N", "A-B" or a comma-separated list of both ("1,5,10-20"); negative
// numbers are written with a leading minus ("-3--1"). Duplicates are
// dropped, the order of first appearance kept.
std::vector<int32_t> parseFrameList(const std::string &text);

// The K-th of N contiguous slices of `frames` (K counts from 1), for
// splitting one shot over independent farm tasks: slice sizes differ by at
// most one, the larger slices first; a slice may be empty when there are
// more slices than frames. `text` is "K/N" with 1 <= K <= N.
std::vector<int32_t> frameChunk(const std::vector<int32_t> &frames, const std::string &text);

// "WxH", both positive.
std::array<int32_t, 2> parseSize(const std::string &text);
// "X,Y", signed.
std::array<int32_t, 2> parseOrigin(const std::string &text);

// A background: a flat colour (RGBA 0..255) or a built-in pattern.
struct Background {
    enum Kind { Colour, Checker, Gradient } kind = Colour;
    std::array<uint8_t, 4> rgba{0, 0, 0, 0};
};
Background parseBackground(const std::string &text);
// The background's RGBA 0..255 at pixel (x, y) of a width × height frame.
std::array<uint8_t, 4> backgroundAt(const Background &background, int32_t x, int32_t y, int32_t width,
                                    int32_t height);

// Substitutes the frame number for the first run of '#' in `pattern`,
// zero-padded to the run's length. A pattern without '#' is used as it
// stands (fit for one frame only).
std::string frameFileName(const std::string &pattern, int32_t frame);
bool hasFramePlaceholder(const std::string &pattern);

// ---- the effect's parameters

enum class ParamKind { Popup, Checkbox, Slider };

struct ParamInfo {
    const char *option;  // "playback-mode"
    int32_t index;       // position in the host's parameter array
    ParamKind kind;
    double validMin, validMax;            // sliders, real units
    std::vector<std::string> choices;     // popups: value i + 1 is choices[i]; "(-" cannot be chosen
    int32_t defaultValue;                 // as the host stores it (16.16 for sliders)
};

const std::vector<ParamInfo> &effectParams();
// By option name, accepting '_' for '-'; null when unknown.
const ParamInfo *findParam(const std::string &name);

// Real units to the 16.16 value the host hands the effect: nearest, halves
// away from zero.
int32_t sliderToFixed(double value);

// A value of one parameter from text: popups by choice name (any case) or
// number, checkboxes on/off/1/0 (also true/false, yes/no), sliders in real
// units. Refuses values outside the valid range. Sliders return real units
// in `real` as well.
struct ParamValue {
    int32_t stored = 0;  // integer for popups and checkboxes, 16.16 for sliders
    double real = 0.0;   // sliders only
};
ParamValue parseParamValue(const ParamInfo &param, const std::string &text);

// One parameter over time: either constant or keyed at frame numbers.
struct ParamTrack {
    std::vector<std::pair<double, ParamValue>> keys;  // sorted by frame; empty: constant
    ParamValue constant;

    // The host interpolates sliders linearly in real units between keys and
    // holds them outside; popups and checkboxes hold each key until the next.
    bool keyed() const { return !keys.empty(); }
};

// Every parameter of the effect, index → track, starting at the defaults.
struct ParamSettings {
    std::map<int32_t, ParamTrack> tracks;
    std::map<int32_t, std::string> origin;  // where a value came from, for errors
};
ParamSettings defaultParamSettings();
// Sets a constant from the command line; refuses a parameter also keyed.
void setParamFromOption(ParamSettings &settings, const ParamInfo &param, const std::string &text);
// Reads {"name": value or [[frame, value], ...], ...}.
void loadParamKeyframes(ParamSettings &settings, const std::string &jsonText, const std::string &fileName);

}  // namespace pennaro_cli
