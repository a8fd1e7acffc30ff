// What the movie module gives the tool. FFmpeg's libraries bring about a
// hundred and twenty more shared libraries with them; linked into the tool,
// every command would load them all before doing anything (about 40 ms of
// a `pennaro --version`). They live in a module of their own instead,
// loaded the first time a movie is written or asked about.
#pragma once

#include "cli/video/movie.h"

namespace pennaro_cli {

class MovieEncoder {
public:
    virtual ~MovieEncoder() = default;
    virtual void add(const FrameRows &frame) = 0;
    virtual void finish() = 0;
};

// The module's one entry point: opens the encoder and the temporary file
// for these settings; throws ToolError. The name carries the version of
// this interface, so that a module of another build is refused rather than
// called.
using OpenMovie = MovieEncoder *(const MovieSettings &settings);
inline constexpr const char *OPEN_MOVIE_SYMBOL = "pennaro_open_movie_v1";

}  // namespace pennaro_cli
