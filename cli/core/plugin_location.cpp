#include "cli/core/plugin_location.h"

#include <dlfcn.h>

#include <system_error>
#include <vector>

#include "cli/core/errors.h"
#include "minihost/minihost.h"

namespace pennaro_cli {

static std::filesystem::path selfDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

#ifndef PENNARO_INSTALLED_PLUGIN_DIR
#define PENNARO_INSTALLED_PLUGIN_DIR "lib/pennaro"  // builds that compile this file alone
#endif

namespace {

// A name without a folder is taken in the current folder: handed to the
// system's loader as it stands, it would be searched for along the library
// path and could load some other library of that name.
std::filesystem::path explicitLibrary(const std::string &name, const std::string &from) {
    std::filesystem::path path(name);
    if (!path.has_parent_path()) path = std::filesystem::current_path() / path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw ToolError(from + ": no such effect library: " + path.string());
    return path;
}

}  // namespace

std::filesystem::path resolvePluginPath(const std::string &requested) {
    if (!requested.empty()) return explicitLibrary(requested, "--plugin");
    if (const char *fromEnvironment = std::getenv("PENNARO_PLUGIN"); fromEnvironment && *fromEnvironment)
        return explicitLibrary(fromEnvironment, "PENNARO_PLUGIN");
    // Next to the tool (in a build folder, the tool sits one folder below
    // the effect), then where an installation puts it beside the tool's bin.
    const std::filesystem::path self = selfDirectory();
    const std::filesystem::path candidates[] = {self / PENNARO_PLUGIN_FILE_NAME,
                                                self.parent_path() / PENNARO_PLUGIN_FILE_NAME,
                                                self.parent_path() / PENNARO_INSTALLED_PLUGIN_DIR / PENNARO_PLUGIN_FILE_NAME};
    std::string tried;
    for (const auto &candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
        tried += (tried.empty() ? "" : ", ") + candidate.lexically_normal().string();
    }
    throw ToolError("effect library not found; looked for " + tried + " (use --plugin PATH or set PENNARO_PLUGIN)");
}

ToolModule loadToolModule(const std::string &fileName, const std::string &builtPath, const char *symbol) {
    ToolModule m;
    const std::filesystem::path self = selfDirectory();
    const std::filesystem::path candidates[] = {self / fileName, self.parent_path() / fileName,
                                                self.parent_path() / PENNARO_INSTALLED_PLUGIN_DIR / fileName,
                                                std::filesystem::path(builtPath)};
    std::string tried;
    for (const auto &candidate : candidates) {
        std::error_code ec;
        if (candidate.empty() || !std::filesystem::is_regular_file(candidate, ec)) {
            if (!candidate.empty()) tried += (tried.empty() ? "" : ", ") + candidate.lexically_normal().string();
            continue;
        }
        m.path = candidate.lexically_normal().string();
        void *handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char *why = dlerror();
            m.problem = m.path + " did not load: " + (why ? why : "unknown error");
            return m;
        }
        m.entry = dlsym(handle, symbol);
        if (!m.entry) m.problem = m.path + " is from another build of pennaro";
        return m;
    }
    m.problem = fileName + " was not found (looked for " + tried + "); reinstall pennaro";
    return m;
}

const char *toolVersion() { return PENNARO_TOOL_VERSION_STRING; }

static std::vector<std::string (*)()> &versionLines() {
    static std::vector<std::string (*)()> lines;
    return lines;
}

void addVersionLine(std::string (*line)()) { versionLines().push_back(line); }

std::string versionText(const std::string &requestedPlugin) {
    std::string text = std::string("pennaro tool ") + PENNARO_TOOL_VERSION_STRING + "\n";
    try {
        const std::string path = resolvePluginPath(requestedPlugin).string();
        minihost::Plugin plugin(path);
        minihost::Host host;
        const int32_t err = host.send(plugin.entry(), HOST_CMD_GLOBAL_SETUP);
        if (err) throw ToolError("its global set-up failed with code " + std::to_string(err));
        // The version the effect gives the host: major, minor, fix level,
        // stage and build, packed.
        const uint32_t v = host.out.version;
        char line[160];
        std::snprintf(line, sizeof line, "effect %u.%u (fix level %u, stage %u, build %u)", v >> 19 & 0xF,
                      v >> 15 & 0xF, v >> 11 & 0xF, v >> 9 & 0x3, v & 0x1FF);
        text += std::string(line) + ": " + path;
    } catch (const std::exception &e) {
        text += std::string("effect: not loaded: ") + e.what();
    }
    for (const auto line : versionLines()) {
        text += '\n';
        text += line();
    }
    return text;
}

}  // namespace pennaro_cli
