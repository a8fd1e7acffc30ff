// Layers only OpenImageIO reads: its reader is a module of its own (see
// oiio_module.h), loaded once, the first time such a layer is met or
// --version asks. A build without OpenImageIO has no module, and refuses
// such layers naming the package that brings it.
#include <filesystem>
#include <system_error>

#include "cli/core/errors.h"
#include "cli/core/plugin_location.h"
#include "cli/images/image_format.h"
#include "cli/images/oiio_module.h"

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
        const ToolModule found =
            loadToolModule(PENNARO_OIIO_MODULE_FILE_NAME, PENNARO_BUILT_OIIO_MODULE, OIIO_ENTRY_SYMBOL);
        m.path = found.path;
        if (found.entry) m.reader = reinterpret_cast<OiioEntry *>(found.entry)();
        else m.problem = "needs OpenImageIO, whose module " + found.problem;
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
