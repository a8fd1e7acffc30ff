// A build without FFmpeg's libraries: every movie is refused with the
// packages that bring them.
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/video/movie.h"

namespace pennaro_cli {

bool moviesBuiltIn() { return false; }

struct MovieWriter::State {};

MovieWriter::MovieWriter(const MovieSettings &) { throw ToolError(moviesMissingMessage()); }
MovieWriter::~MovieWriter() = default;
void MovieWriter::add(const FrameRows &) {}
void MovieWriter::finish() {}

}  // namespace pennaro_cli
