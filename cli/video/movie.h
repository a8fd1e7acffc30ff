// Movies from rendered frames, through FFmpeg's libraries: the container
// and codec by the output name's extension, frames encoded in the order
// they are given, the file written under a temporary name and put in place
// by finish().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "cli/images/image_format.h"

namespace pennaro_cli {

enum class MovieKind { None, Mp4, Mov, Webm, Mkv, Gif };

// By extension (any case): .mp4, .mov, .webm, .mkv, .gif; None otherwise.
MovieKind movieKindOf(const std::string &name);
const char *movieExtension(MovieKind kind);
// Whether the kind keeps alpha (mov only with ProRes 4444).
bool movieKeepsAlpha(MovieKind kind, const std::string &prores);
// Whether this build writes movies; when not, the message that says which
// packages bring them.
bool moviesBuiltIn();
std::string moviesMissingMessage();
// The line --version prints: where the movie module was loaded from, or
// why there are no movies.
std::string moviesVersionLine();

struct MovieSettings {
    std::string path;
    MovieKind kind = MovieKind::None;
    int32_t width = 0, height = 0;
    int depth = 8;                      // of the frames given
    uint32_t rateNum = 24, rateDen = 1; // frames per second, exactly
    uint32_t aspectNum = 1, aspectDen = 1;
    int64_t firstFrame = 0;             // the start time code counts from it
    int crf = -1;                       // mp4 and webm; -1: the format's default
    std::string prores = "4444";        // mov: 4444 (with alpha) or 422hq
    std::array<uint8_t, 3> matte{0, 0, 0};  // under the frames of formats without alpha
    std::string software;               // the metadata's encoder name
};

// "HH:MM:SS:FF", non-drop, counted at the rate rounded to a whole number
// (24 for 24000/1001); frames before 0 start at 00:00:00:00.
std::string startTimecode(int64_t frame, uint32_t rateNum, uint32_t rateDen);

// Checks what a movie of these settings needs (even sizes for the 4:2:0
// codecs, a known ProRes profile, a CRF in range) before anything renders;
// throws UsageError.
void checkMovieSettings(const MovieSettings &settings);

class MovieWriter {
public:
    // Opens the temporary file and the encoder; throws ToolError.
    explicit MovieWriter(const MovieSettings &settings);
    // Without finish(): the temporary file goes, nothing is left under the name.
    ~MovieWriter();
    MovieWriter(const MovieWriter &) = delete;
    MovieWriter &operator=(const MovieWriter &) = delete;

    // The next frame, in the effect's values at the settings' depth.
    void add(const FrameRows &frame);
    // Drains the encoder, writes the index and puts the file in place.
    void finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pennaro_cli
