#include "lib/common.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <fcntl.h>
#include <unistd.h>

namespace pennaro_cli {

const char *const EXIT_STATUS_HELP =
    "Exit status: 0 success; 1 a failure or a refused input; 2 a usage error; 3 a negative answer "
    "(compare found differences); 130 or 143 when interrupted.";

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

std::string closestName(const std::string &given, const std::vector<std::string> &names) {
    // Edit distance with adjacent swaps counted as one edit ("--fsp" for
    // "--fps"), leading dashes left out so that they cost nothing.
    auto bare = [](const std::string &name) { return name.substr(std::min(name.find_first_not_of('-'), name.size())); };
    const std::string a = bare(given);
    const size_t allowed = std::clamp<size_t>(a.size() / 3, 1, 2);
    std::string best;
    size_t bestDistance = allowed + 1;
    for (const std::string &name : names) {
        const std::string b = bare(name);
        std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
        for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
        for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
        for (size_t i = 1; i <= a.size(); ++i)
            for (size_t j = 1; j <= b.size(); ++j) {
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        if (d[a.size()][b.size()] < bestDistance) {
            bestDistance = d[a.size()][b.size()];
            best = name;
        }
    }
    return best;
}

namespace {

// "; did you mean --fps?" for the first option on the command line that
// the command does not have but nearly does.
std::string optionHint(const CLI::App &app, int argc, char **argv) {
    std::vector<std::string> names;
    for (const CLI::Option *option : app.get_options()) {
        for (const std::string &n : option->get_lnames()) names.push_back("--" + n);
        for (const std::string &n : option->get_snames()) names.push_back("-" + n);
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) continue;
        const std::string name = arg.substr(0, arg.find('='));
        if (app.get_option_no_throw(name)) continue;
        const std::string close = closestName(name, names);
        if (!close.empty()) return "; did you mean " + close + "?";
    }
    return "";
}

}  // namespace

int runGuarded(CLI::App &app, int argc, char **argv, int (*body)(void *), void *context) {
    const std::string footer = app.get_footer();
    app.footer(footer.empty() ? std::string(EXIT_STATUS_HELP) : footer + "\n\n" + EXIT_STATUS_HELP);
    const std::string prefix = "pennaro " + app.get_name() + ": ";
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::fprintf(stderr, "%s%s%s\nRun 'pennaro %s --help' for the options.\n", prefix.c_str(), e.what(),
                     optionHint(app, argc, argv).c_str(), app.get_name().c_str());
        return exit_status::USAGE;
    }
    try {
        return body(context);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), e.what());
        return exit_status::USAGE;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), e.what());
        return exit_status::FAILED;
    }
}

}  // namespace pennaro_cli
