#include "lib/common.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <atomic>
#include <climits>
#include <csignal>
#include <random>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lib/memory_budget.h"
#include "minihost/minihost.h"

namespace pennaro_cli {

const char *const EXIT_STATUS_HELP =
    "Exit status: 0 success; 1 a failure or a refused input; 2 a usage error; 3 a negative answer "
    "(compare found differences); 130 or 143 when interrupted.";

void addCommonOptions(CLI::App &app, CommonOptions &options) {
    app.add_option("--plugin", options.plugin,
                   "The effect library to load; a bare name is a file in the current folder. Default: "
                   "$PENNARO_PLUGIN, else the one next to this tool, else the installed one");
    addMemoryOption(app);
    // --plugin is read before the version callback runs, whatever their order.
    app.set_version_flag("--version", [&options] { return versionText(options.plugin); });
}

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
    return text;
}

std::vector<uint8_t> readFileBytes(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot read " + path.string() + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw ToolError("cannot read " + path.string());
    return bytes;
}

// ---------------------------------------------------------------- writing

namespace {

// What the interrupt handler may touch: only fixed arrays of plain values,
// each entry published by an atomic flag after it is complete, so that the
// handler never reads a half-written name and never calls into the heap.
constexpr int TEMPORARY_SLOTS = 16;
struct TemporarySlot {
    std::atomic<bool> live{false};
    char name[PATH_MAX];
};
TemporarySlot temporaries[TEMPORARY_SLOTS];
constexpr int WORKER_SLOTS = 256;
std::atomic<int> workers[WORKER_SLOTS];
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTemporariesAndDie(int signal) {
    for (TemporarySlot &slot : temporaries)
        if (slot.live.load()) unlink(slot.name);
    for (auto &worker : workers)
        if (const int pid = worker.load(); pid > 0) kill(pid, signal);
    for (auto &worker : workers)
        if (const int pid = worker.load(); pid > 0)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
    // Dying of the signal itself tells the shell (and a farm scheduler)
    // that the run was interrupted, not that it failed.
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void installInterruptCleanup() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : CLEANUP_SIGNALS) {
        struct sigaction action {};
        // An interrupt the user asked to ignore (nohup) stays ignored.
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
        action = {};
        action.sa_handler = removeTemporariesAndDie;
        sigemptyset(&action.sa_mask);
        for (int other : CLEANUP_SIGNALS) sigaddset(&action.sa_mask, other);
        sigaction(signal, &action, nullptr);
    }
}

// Registers a temporary name for the handler; -1 when every slot is taken
// (the write still works, only an interrupt would leave the file).
int holdTemporary(const std::filesystem::path &name) {
    installInterruptCleanup();
    const std::string &text = name.native();
    if (text.size() >= PATH_MAX) return -1;
    for (int i = 0; i < TEMPORARY_SLOTS; ++i) {
        if (temporaries[i].live.load()) continue;
        std::memcpy(temporaries[i].name, text.c_str(), text.size() + 1);
        temporaries[i].live.store(true);
        return i;
    }
    return -1;
}

void releaseTemporary(int &slot) {
    if (slot >= 0) temporaries[slot].live.store(false);
    slot = -1;
}

const std::string &hostName() {
    static const std::string name = [] {
        char buffer[256] = {};
        if (gethostname(buffer, sizeof buffer - 1) != 0 || !buffer[0]) return std::string("localhost");
        std::string text(buffer);
        for (char &c : text)
            if (c == '/') c = '_';
        return text;
    }();
    return name;
}

std::string temporaryMarker() { return ".pennaro-" + hostName() + "-"; }

std::string cannotWrite(const std::filesystem::path &path, const std::string &why) {
    return "cannot write " + path.string() + ": " + why;
}

void writeAll(int fd, const std::filesystem::path &path, const void *data, size_t size) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw ToolError(cannotWrite(path, std::strerror(n < 0 ? errno : EIO)));
        bytes += n;
        size -= size_t(n);
    }
}

}  // namespace

std::string temporaryName(const std::string &name, long pid, const std::string &random) {
    return "." + name + temporaryMarker() + std::to_string(pid) + "-" + random + ".tmp";
}

void removeStaleTemporaries(const std::filesystem::path &folder) {
    const std::string marker = temporaryMarker();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), last; !ec && it != last; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const size_t at = name.rfind(marker);
        if (name[0] != '.' || at == std::string::npos || !name.ends_with(".tmp")) continue;
        // <pid>-<random>.tmp after the marker, nothing else.
        const char *p = name.c_str() + at + marker.size();
        char *end = nullptr;
        const long pid = std::strtol(p, &end, 10);
        if (end == p || *end != '-' || pid <= 0 || pid == getpid()) continue;
        const std::string rest(end + 1);
        if (rest.size() <= 4 || rest.find_first_not_of("0123456789abcdef") != rest.size() - 4) continue;
        if (kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        unlink(it->path().c_str());
    }
}

bool fileIdentity(const std::filesystem::path &path, FileIdentity &identity) {
    struct stat info {};
    if (path == "-" || stat(path.c_str(), &info) != 0) return false;
    identity = {uint64_t(info.st_dev), uint64_t(info.st_ino)};
    return true;
}

int forkWorker() {
    installInterruptCleanup();
    // No interrupt between the fork and the worker's registration: it
    // would leave a worker nobody stops.
    sigset_t block, previous;
    sigemptyset(&block);
    for (int signal : CLEANUP_SIGNALS) sigaddset(&block, signal);
    sigprocmask(SIG_BLOCK, &block, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        for (auto &worker : workers) worker.store(0);  // the parent's, not this one's to stop
    } else if (pid > 0) {
        for (auto &worker : workers) {
            int empty = 0;
            if (worker.compare_exchange_strong(empty, pid)) break;
        }
    }
    const int error = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return pid;
}

void forgetWorker(int pid) {
    for (auto &worker : workers) {
        int expected = pid;
        if (worker.compare_exchange_strong(expected, 0)) break;
    }
}

AtomicWrite::AtomicWrite(AtomicWrite &&other) noexcept
    : path_(std::move(other.path_)),
      temp_(std::move(other.temp_)),
      shown_(std::move(other.shown_)),
      fd_(other.fd_),
      slot_(other.slot_) {
    other.fd_ = -1;
    other.slot_ = -1;
}

AtomicWrite &AtomicWrite::operator=(AtomicWrite &&other) noexcept {
    if (this != &other) {
        abandon();
        path_ = std::move(other.path_);
        temp_ = std::move(other.temp_);
        shown_ = std::move(other.shown_);
        fd_ = other.fd_;
        slot_ = other.slot_;
        other.fd_ = -1;
        other.slot_ = -1;
    }
    return *this;
}

AtomicWrite::~AtomicWrite() { abandon(); }

void AtomicWrite::abandon() noexcept {
    if (fd_ < 0) return;
    close(fd_);
    fd_ = -1;
    if (!temp_.empty()) unlink(temp_.c_str());
    releaseTemporary(slot_);
}

AtomicWrite AtomicWrite::start(const std::filesystem::path &path, const void *data, size_t size) {
    AtomicWrite w = open(path);
    w.write(data, size);
    return w;
}

AtomicWrite AtomicWrite::open(const std::filesystem::path &requested) {
    AtomicWrite w;
    w.path_ = requested;
    w.shown_ = requested;
    if (requested == "-") {
        w.shown_ = "standard output";
        w.fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (w.fd_ < 0) throw ToolError(cannotWrite("standard output", std::strerror(errno)));
        return w;
    }
    struct stat link {}, target {};
    const bool exists = lstat(requested.c_str(), &link) == 0;
    const bool reached = exists && stat(requested.c_str(), &target) == 0;
    if (exists && S_ISLNK(link.st_mode)) {
        // Written through: the link stays and its target gets the bytes.
        std::error_code ec;
        w.path_ = std::filesystem::weakly_canonical(requested, ec);
        if (ec) throw ToolError(cannotWrite(requested, ec.message()));
    }
    if (reached && S_ISDIR(target.st_mode))
        throw ToolError(cannotWrite(requested, w.path_.string() + " is a folder"));
    if (reached && (S_ISCHR(target.st_mode) || S_ISFIFO(target.st_mode))) {
        w.fd_ = ::open(requested.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (w.fd_ < 0) throw ToolError(cannotWrite(requested, std::strerror(errno)));
        return w;
    }
    if (reached && !S_ISREG(target.st_mode))
        throw ToolError(cannotWrite(requested, "not a regular file, a character device or a FIFO"));

    std::filesystem::path dir = w.path_.parent_path();
    if (dir.empty()) dir = ".";
    static std::set<std::filesystem::path> swept;
    if (swept.insert(dir).second) removeStaleTemporaries(dir);
    std::random_device rd;
    char random[16];
    std::snprintf(random, sizeof random, "%06x", unsigned(rd() & 0xFFFFFF));
    w.temp_ = dir / temporaryName(w.path_.filename().string(), getpid(), random);
    // Held before the file exists, so that no interrupt can leave it.
    w.slot_ = holdTemporary(w.temp_);
    w.fd_ = ::open(w.temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (w.fd_ < 0) {
        const int error = errno;
        releaseTemporary(w.slot_);
        throw ToolError(cannotWrite(requested, std::strerror(error)));
    }
    if (reached) {
        // The file replaced keeps its owner where the system lets us give
        // it (root, or a group we are in) and its mode: rewriting a 0600
        // file must not leave it readable by everyone.
        if (fchown(w.fd_, target.st_uid, target.st_gid) != 0 && fchown(w.fd_, uid_t(-1), target.st_gid) != 0) {
        }
        if (fchmod(w.fd_, target.st_mode & 07777) != 0)
            throw ToolError(cannotWrite(requested, std::string("cannot keep its mode: ") + std::strerror(errno)));
    }
    return w;
}

void AtomicWrite::write(const void *data, size_t size) {
    writeAll(fd_, shown_, data, size);
#ifdef __linux__
    // Only a hint: finish() still waits for the data with fsync.
    if (!temp_.empty()) sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

void AtomicWrite::finish() {
    if (fd_ < 0) return;
    if (temp_.empty()) {
        // Written directly: a device or a pipe has nothing to sync or rename.
        close(fd_);
        fd_ = -1;
        return;
    }
    if (fsync(fd_) != 0) {
        const int error = errno;
        abandon();
        throw ToolError(cannotWrite(path_, std::strerror(error)));
    }
    const int closed = close(fd_);
    const int error = errno;
    fd_ = -1;
    if (closed != 0) {
        unlink(temp_.c_str());
        releaseTemporary(slot_);
        throw ToolError(cannotWrite(path_, std::strerror(error)));
    }
    const int renamed = rename(temp_.c_str(), path_.c_str());
    const int renameError = errno;
    if (renamed != 0) unlink(temp_.c_str());
    releaseTemporary(slot_);
    if (renamed != 0) throw ToolError(cannotWrite(path_, std::strerror(renameError)));
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
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), outOfMemoryMessage().c_str());
        return exit_status::FAILED;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), e.what());
        return exit_status::FAILED;
    }
}

}  // namespace pennaro_cli
