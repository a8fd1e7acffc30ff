// Movies in a build with FFmpeg's libraries: the encoder lives in the movie
// module (see movie_encoder.h), loaded once, on first use.
#include "cli/core/errors.h"
#include "cli/core/plugin_location.h"
#include "cli/video/movie_encoder.h"

namespace pennaro_cli {

namespace {

struct Module {
    OpenMovie *open = nullptr;
    ToolModule found;
};

const Module &module() {
    static const Module loaded = [] {
        Module m;
        m.found = loadToolModule(PENNARO_MOVIE_MODULE_FILE_NAME, PENNARO_BUILT_MOVIE_MODULE, OPEN_MOVIE_SYMBOL);
        m.open = reinterpret_cast<OpenMovie *>(m.found.entry);
        return m;
    }();
    return loaded;
}

}  // namespace

bool moviesBuiltIn() { return module().open != nullptr; }

std::string moviesMissingMessage() { return "the movie module " + module().found.problem; }

std::string moviesVersionLine() {
    return moviesBuiltIn() ? "movies (FFmpeg): " + module().found.path : "movies: " + moviesMissingMessage();
}

struct MovieWriter::State {
    std::unique_ptr<MovieEncoder> encoder;
};

MovieWriter::MovieWriter(const MovieSettings &settings) : state_(std::make_unique<State>()) {
    if (!moviesBuiltIn()) throw ToolError(moviesMissingMessage());
    state_->encoder.reset(module().open(settings));
}

MovieWriter::~MovieWriter() = default;

void MovieWriter::add(const FrameRows &frame) { state_->encoder->add(frame); }

void MovieWriter::finish() { state_->encoder->finish(); }

}  // namespace pennaro_cli
