// Movies in a build with FFmpeg's libraries: the encoder lives in the movie
// module (see movie_encoder.h), loaded once, on first use.
#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <system_error>

#include "cli/core/errors.h"
#include "cli/video/movie_encoder.h"

namespace pennaro_cli {

namespace {

struct Module {
    OpenMovie *open = nullptr;
    std::string path;
    std::string problem;  // why it did not load
};

// Beside the tool (a build folder keeps it one folder up, as the effect),
// where an installation puts it (lib/pennaro beside bin), then the build
// folder it was made in, for the tests' programs elsewhere in that folder.
const Module &module() {
    static const Module loaded = [] {
        Module m;
        std::error_code ec;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
        const std::filesystem::path candidates[] = {self / PENNARO_MOVIE_MODULE_FILE_NAME,
                                                    self.parent_path() / PENNARO_MOVIE_MODULE_FILE_NAME,
                                                    self.parent_path() / PENNARO_INSTALLED_PLUGIN_DIR / PENNARO_MOVIE_MODULE_FILE_NAME,
                                                    std::filesystem::path(PENNARO_BUILT_MOVIE_MODULE)};
        std::string tried;
        for (const auto &candidate : candidates) {
            if (!std::filesystem::is_regular_file(candidate, ec)) {
                tried += (tried.empty() ? "" : ", ") + candidate.lexically_normal().string();
                continue;
            }
            void *handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char *why = dlerror();
                m.problem = "the movie module " + candidate.string() + " did not load: " + (why ? why : "unknown error");
                return m;
            }
            // Kept loaded to the end: its encoders' code and exception types
            // are in use until then.
            m.open = reinterpret_cast<OpenMovie *>(dlsym(handle, OPEN_MOVIE_SYMBOL));
            m.path = candidate.lexically_normal().string();
            if (!m.open) m.problem = "the movie module " + candidate.string() + " is from another build of pennaro";
            return m;
        }
        m.problem = "the movie module was not found (looked for " + tried + "); reinstall pennaro";
        return m;
    }();
    return loaded;
}

}  // namespace

bool moviesBuiltIn() { return module().open != nullptr; }

std::string moviesMissingMessage() { return module().problem; }

std::string moviesVersionLine() {
    return moviesBuiltIn() ? "movies (FFmpeg): " + module().path : "movies: " + module().problem;
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
