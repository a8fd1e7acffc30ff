#include "lib/common.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <fcntl.h>
#include <unistd.h>

#include "lib/memory_budget.h"

namespace pennaro_cli {

const char *const EXIT_STATUS_HELP =
    "Exit status: 0 success; 1 a failure or a refused input; 2 a usage error; 3 a negative answer "
    "(compare found differences); 130 or 143 when interrupted.";

void addCommonOptions(CLI::App &app, CommonOptions &options) {
    app.add_option("--plugin", options.plugin,
                   "The effect library to load (default: the one built next to this tool)");
    addMemoryOption(app);
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

AtomicWrite::AtomicWrite(AtomicWrite &&other) noexcept
    : path_(std::move(other.path_)), temp_(std::move(other.temp_)), fd_(other.fd_) {
    other.fd_ = -1;
}

AtomicWrite &AtomicWrite::operator=(AtomicWrite &&other) noexcept {
    if (this != &other) {
        abandon();
        path_ = std::move(other.path_);
        temp_ = std::move(other.temp_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

AtomicWrite::~AtomicWrite() { abandon(); }

void AtomicWrite::abandon() noexcept {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    std::remove(temp_.c_str());
}

AtomicWrite AtomicWrite::start(const std::filesystem::path &path, const void *data, size_t size) {
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) dir = ".";
    std::random_device rd;
    AtomicWrite w;
    w.path_ = path;
    w.temp_ = dir / ("." + path.filename().string() + ".tmp" + std::to_string(getpid()) + "-" +
                     std::to_string(rd() & 0xFFFFFF));
    w.fd_ = open(w.temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (w.fd_ < 0) throw ToolError("cannot write " + path.string() + ": " + std::strerror(errno));
    const auto *bytes = static_cast<const uint8_t *>(data);
    while (size > 0) {
        const ssize_t n = write(w.fd_, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ToolError("cannot write " + path.string() + ": " + std::strerror(n < 0 ? errno : EIO));
        bytes += n;
        size -= size_t(n);
    }
#ifdef __linux__
    // Only a hint: finish() still waits for the data with fsync.
    sync_file_range(w.fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return w;
}

void AtomicWrite::finish() {
    if (fd_ < 0) return;
    if (fsync(fd_) != 0) {
        const int error = errno;
        abandon();
        throw ToolError("cannot write " + path_.string() + ": " + std::strerror(error));
    }
    const int closed = close(fd_);
    const int error = errno;
    fd_ = -1;
    if (closed != 0) {
        std::remove(temp_.c_str());
        throw ToolError("cannot write " + path_.string() + ": " + std::strerror(error));
    }
    std::error_code ec;
    std::filesystem::rename(temp_, path_, ec);
    if (ec) {
        std::remove(temp_.c_str());
        throw ToolError("cannot write " + path_.string() + ": " + ec.message());
    }
}

void writeFileAtomically(const std::filesystem::path &path, const void *data, size_t size) {
    AtomicWrite::start(path, data, size).finish();
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
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "pennaro %s: %s\n", app.get_name().c_str(), outOfMemoryMessage().c_str());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "pennaro %s: %s\n", app.get_name().c_str(), e.what());
        return 1;
    }
}

}  // namespace pennaro_cli
