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
// The tool's version alone, such as "1.2.0" (what files it writes name).
const char *toolVersion();

}  // namespace pennaro_cli
