// A build without FFmpeg's libraries: every movie is refused with the
// packages that bring them.
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/video/movie.h"

namespace pennaro_cli {

bool moviesBuiltIn() { return false; }

std::string moviesMissingMessage() {
    return "this pennaro was built without FFmpeg's libraries, so it writes no movies; install libavformat-dev, "
           "libavcodec-dev, libswscale-dev and libavutil-dev (Debian) and build it again, or write frames "
           "(-o frames/f_####.png) and make the movie from them";
}

std::string moviesVersionLine() { return "movies: not built in (FFmpeg's libraries were not found)"; }

struct MovieWriter::State {};

MovieWriter::MovieWriter(const MovieSettings &) { throw ToolError(moviesMissingMessage()); }
MovieWriter::~MovieWriter() = default;
void MovieWriter::add(const FrameRows &) {}
void MovieWriter::finish() {}

}  // namespace pennaro_cli
