// What the OpenImageIO module gives the tool. OpenImageIO brings over two
// hundred shared libraries with it (its own format plug-ins, FFmpeg's,
// OpenVDB's...); linked into the tool, every command would load them all
// before doing anything. Its reader lives in a module of its own instead
// (oiio_module.cpp), loaded the first time a layer only it reads is met or
// --version asks (oiio.cpp).
#pragma once

#include <filesystem>
#include <string>

#include "cli/images/image_format.h"

namespace pennaro_cli {

struct OiioReader {
    ImageHeader (*probe)(const std::filesystem::path &path);
    RgbaImage (*read)(const std::filesystem::path &path, uint64_t maxBytes, int floatDepth);
    std::string (*versionLine)();
};

// The module's one entry point. The name carries the version of this
// interface, so that a module of another build is refused rather than
// called.
using OiioEntry = const OiioReader *();
inline constexpr const char *OIIO_ENTRY_SYMBOL = "pennaro_oiio_reader_v1";

}  // namespace pennaro_cli
