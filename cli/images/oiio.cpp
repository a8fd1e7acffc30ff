// Layers only OpenImageIO reads: its reader is a module of its own (see
// oiio_module.h), loaded once, the first time such a layer is met or
// --version asks. A build without OpenImageIO has no module, and refuses
// such layers naming the package that brings it.
#include <filesystem>
#include <system_error>

#include "cli/core/errors.h"
#include "cli/images/image_format.h"
#include "cli/images/oiio_module.h"

#ifdef PENNARO_OIIO_MODULE_FILE_NAME
#include <dlfcn.h>
#endif

namespace pennaro_cli {

namespace {

const char *const PACKAGE_MESSAGE =
    "needs OpenImageIO: install libopenimageio-dev (scripts/install-deps.sh --all) and rebuild";

struct Module {
    const OiioReader *reader = nullptr;
    std::string path;
    std::string problem;  // why there is none
};

const Module &module() {
    static const Module loaded = [] {
        Module m;
#ifndef PENNARO_OIIO_MODULE_FILE_NAME
        m.problem = PACKAGE_MESSAGE;
#else
        // Beside the tool, one folder up (a build folder), where an
        // installation puts it (lib/pennaro beside bin), then the build
        // folder it was made in, for the tests' programs elsewhere in it.
        std::error_code ec;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
        const std::filesystem::path candidates[] = {
            self / PENNARO_OIIO_MODULE_FILE_NAME, self.parent_path() / PENNARO_OIIO_MODULE_FILE_NAME,
            self.parent_path() / PENNARO_INSTALLED_PLUGIN_DIR / PENNARO_OIIO_MODULE_FILE_NAME,
            std::filesystem::path(PENNARO_BUILT_OIIO_MODULE)};
        std::string tried;
        for (const auto &candidate : candidates) {
            if (!std::filesystem::is_regular_file(candidate, ec)) {
                tried += (tried.empty() ? "" : ", ") + candidate.lexically_normal().string();
                continue;
            }
            // Kept loaded to the end: images and errors it made are in use.
            void *handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                const char *why = dlerror();
                m.problem = "needs OpenImageIO, whose module " + candidate.string() +
                            " did not load: " + (why ? why : "unknown error");
                return m;
            }
            auto *entry = reinterpret_cast<OiioEntry *>(dlsym(handle, OIIO_ENTRY_SYMBOL));
            m.path = candidate.lexically_normal().string();
            if (entry) m.reader = entry();
            else m.problem = "needs OpenImageIO, whose module " + candidate.string() + " is from another build";
            return m;
        }
        m.problem = "needs OpenImageIO, whose module was not found (looked for " + tried + "); reinstall pennaro";
#endif
        return m;
    }();
    return loaded;
}

ImageHeader probe(const std::filesystem::path &path) { return module().reader->probe(path); }
RgbaImage read(const std::filesystem::path &path, uint64_t maxBytes, int floatDepth) {
    return module().reader->read(path, maxBytes, floatDepth);
}
std::vector<uint8_t> notWritten(const FrameRows &, const ImageWriteSettings &) {
    throw ToolError("OpenImageIO's formats are read as layers, never written");
}
bool notHeld(const std::vector<uint8_t> &, const ExpectedImage &) { return false; }
bool recognisesNothing(const uint8_t *, size_t) { return false; }

}  // namespace

bool oiioBuiltIn() { return module().reader != nullptr; }

std::string oiioMissingMessage() {
    return module().reader ? PACKAGE_MESSAGE : module().problem;
}

const ImageFormat &oiioFormat() {
    if (!oiioBuiltIn()) throw ToolError("this pennaro " + oiioMissingMessage());
    static const ImageFormat format{"OpenImageIO", {}, recognisesNothing, probe, read, notWritten, notHeld};
    return format;
}

std::string oiioVersionLine() {
    if (oiioBuiltIn()) return module().reader->versionLine() + " (" + module().path + ")";
    return "layers through OpenImageIO: not built in (" + oiioMissingMessage() + ")";
}

}  // namespace pennaro_cli
