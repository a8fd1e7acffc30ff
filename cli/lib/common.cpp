#include "lib/common.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <unistd.h>

namespace pennaro_cli {

void addCommonOptions(CLI::App &app, CommonOptions &options) {
    app.add_option("--plugin", options.plugin,
                   "The effect library to load (default: the one built next to this tool)");
    app.set_version_flag("--version", std::string("pennaro tool ") + PENNARO_TOOL_VERSION_STRING +
                                          ", effect version 1.2");
}

static std::filesystem::path selfDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path resolvePluginPath(const std::string &requested) {
    std::filesystem::path path = requested.empty()
                                     ? selfDirectory().parent_path() / PENNARO_PLUGIN_FILE_NAME
                                     : std::filesystem::path(requested);
    if (requested.empty() && !std::filesystem::exists(path))
        path = selfDirectory() / PENNARO_PLUGIN_FILE_NAME;
    if (!std::filesystem::exists(path))
        throw ToolError("effect library not found: " + path.string() + " (use --plugin PATH)");
    return path;
}

std::vector<uint8_t> readFileBytes(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot read " + path.string() + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ToolError("cannot read " + path.string());
    return bytes;
}

void writeFileAtomically(const std::filesystem::path &path, const void *data, size_t size) {
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) dir = ".";
    std::random_device rd;
    std::filesystem::path temp =
        dir / ("." + path.filename().string() + ".tmp" + std::to_string(getpid()) + "-" +
               std::to_string(rd() & 0xFFFFFF));
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f) throw ToolError("cannot write " + path.string() + ": " + std::strerror(errno));
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    ok = (std::fflush(f) == 0) && ok;
    ok = (fsync(fileno(f)) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::remove(temp.c_str());
        throw ToolError("cannot write " + path.string() + ": " + std::strerror(errno));
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        throw ToolError("cannot write " + path.string() + ": " + ec.message());
    }
}

int runGuarded(CLI::App &app, int argc, char **argv, int (*body)(void *), void *context) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        return app.exit(e);
    }
    try {
        return body(context);
    } catch (const ToolError &e) {
        std::fprintf(stderr, "pennaro %s: %s\n", app.get_name().c_str(), e.what());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "pennaro %s: %s\n", app.get_name().c_str(), e.what());
        return 1;
    }
}

}  // namespace pennaro_cli
