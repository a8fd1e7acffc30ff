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

// Every refusal below is a UsageError naming the option and what it allows.

// "N" or "N/D"; D must be positive. `what` names the option in errors.
Rational parseRational(const std::string &text, const std::string &what);

// A frame rate: a whole number, "N/D", or a decimal taken as the exact
// ratio of its digits when it has at most tenths, quarters or eighths
// (12.5). The rounded NTSC rates stand for their ratios: 23.976 and 23.98 →
// 24000/1001, 29.97 → 30000/1001, 47.952, 59.94, 119.88 likewise; other
// decimals are refused with the nearest ratio suggested.
Rational parseFrameRate(const std::string &text);

// The host's clock: --fps N/D is time scale N and time step D; --time-scale,
// --time-step and --local-time-step (empty when not given) override it, the
// local step following the time step unless given. Every value is a whole
// number from 1 to INT32_MAX.
struct Timing {
    uint32_t timeScale = 30;
    int32_t timeStep = 1, localTimeStep = 1;
};
Timing parseTiming(const std::string &fps, const std::string &timeScale, const std::string &timeStep,
                   const std::string &localTimeStep);
// "N/D", both from 1 to INT32_MAX, the ratio from 1/100 to 100.
Rational parsePixelAspect(const std::string &text);
// "X" or "X,Y" (Y defaults to X), each a fraction above 0 and at most 1.
std::array<Rational, 2> parseDownsample(const std::string &text);
// ⌈extent × factor⌉ for a positive factor.
int32_t scaledExtent(int32_t extent, Rational factor);

// Frame numbers run from -FRAME_NUMBER_LIMIT to FRAME_NUMBER_LIMIT; a list
// holds at most FRAME_COUNT_LIMIT frames, and the range a drawing implies by
// itself at most DEFAULT_FRAME_COUNT_LIMIT (longer ones are asked for with
// --frames), so that a stray stroke time cannot start a run of years.
constexpr int32_t FRAME_NUMBER_LIMIT = 10000000;
constexpr int32_t FRAME_COUNT_LIMIT = 1000000;
constexpr int32_t DEFAULT_FRAME_COUNT_LIMIT = 100000;

// "N", "A-B", "A-BxSTEP" (every STEP-th frame from A) or a comma-separated
// list of them ("1,5,10-20x2"); negative
// numbers are written with a leading minus ("-3--1"). Duplicates are
// dropped, the order of first appearance kept.
std::vector<int32_t> parseFrameList(const std::string &text);

// Frames 0 to the one holding `endTime` (seconds: the end of the drawing's
// last stroke). Longer than DEFAULT_FRAME_COUNT_LIMIT frames is refused as
// a ToolError naming the drawing: its content asks for it, not the options.
// With `revealSpeed` above 0 (the playback speed of a mode that reveals
// strokes as they are drawn), the range ends instead at the first frame
// whose drawing time, frame time × speed, reaches `endTime`.
std::vector<int32_t> defaultFrameRange(double endTime, const Timing &timing, const std::string &drawingName,
                                       double revealSpeed = 0);
// Refuses a frame whose host time (frame x time step) the host's 32-bit
// clock cannot hold: a UsageError when the frames were `chosen` with
// --frames, else a ToolError.
void checkFrameTimes(const std::vector<int32_t> &frames, int32_t timeStep, bool chosen);

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
// The names parseBackground takes besides #RRGGBB[AA], for menus.
const std::vector<std::string> &backgroundNames();
// The background's RGBA 0..255 at pixel (x, y) of a width × height frame.
std::array<uint8_t, 4> backgroundAt(const Background &background, int32_t x, int32_t y, int32_t width,
                                    int32_t height);

// Substitutes the frame number for the placeholder in the last path
// component of `pattern`: a run of '#' (zero-padded to its length), "%04d"
// or "%d" as printf writes it, or "$F4" / "$F" (padded to the digit given).
// The first of them counts; a placeholder in a folder name is part of the
// name. A pattern without one is used as it stands (fit for one frame only).
std::string frameFileName(const std::string &pattern, int32_t frame);
bool hasFramePlaceholder(const std::string &pattern);
// The frame number whose name under `pattern` is `name`, if any.
std::optional<int32_t> frameOfFileName(const std::string &pattern, const std::string &name);

// Refuses (UsageError, naming `option`) a file name that the file system of
// its folder could not hold once written under its temporary name.
void checkOutputName(const std::filesystem::path &path, const std::string &option);

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
