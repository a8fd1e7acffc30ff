// Where the effect library is found, and the version text that names it.
#pragma once

#include <filesystem>
#include <string>

namespace pennaro_cli {

// The effect library: `requested` when given (a bare name is a file in the
// current folder, never a search of the library path), else
// $PENNARO_PLUGIN (the same way), else the one next to the tool, else the
// installed one (lib/pennaro beside the tool's bin folder).
std::filesystem::path resolvePluginPath(const std::string &requested);

// What --version prints: the tool's version, the version the effect
// found that way reports to the host at global set-up, then a line from each
// optional part added below (what it is built with, or what brings it).
std::string versionText(const std::string &requestedPlugin);
void addVersionLine(std::string (*line)());
// A part of the tool kept in a module of its own (movies through FFmpeg,
// layers through OpenImageIO): such libraries bring a hundred shared
// libraries and more, which a tool linked with them would load for every
// command. Looked for beside the tool, one folder up (a build folder, as
// the effect), where an installation puts it (lib/pennaro beside bin), then
// at `builtPath`, where the build made it (for the tests' programs elsewhere
// in that folder). Loaded once by the caller's static and kept to the end:
// what it makes (encoders, images, errors) is in use until then.
struct ToolModule {
    void *entry = nullptr;  // `symbol` in the module, when it loaded
    std::string path;       // where it was found
    std::string problem;    // otherwise why not, starting with the module's path or name
};
ToolModule loadToolModule(const std::string &fileName, const std::string &builtPath, const char *symbol);

// The tool's version alone, such as "1.2.0" (what files it writes name).
const char *toolVersion();

}  // namespace pennaro_cli
