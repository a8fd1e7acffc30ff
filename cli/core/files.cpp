#include "cli/core/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/core/errors.h"
#include "cli/core/interrupts.h"
#include "cli/core/memory_budget.h"

namespace pennaro_cli {

std::vector<uint8_t> readFileBytes(const std::filesystem::path &path, uint64_t maxBytes) {
    if (maxBytes == 0) maxBytes = memoryBudget();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ToolError("cannot read " + path.string() + ": " + std::strerror(errno));
    struct stat st {};
    const auto tooLarge = [&] {
        close(fd);
        return ToolError(path.string() + ": larger than the " + formatMemorySize(maxBytes) +
                         " this run reads of it");
    };
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) > maxBytes) throw tooLarge();
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    while (true) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            throw ToolError("cannot read " + path.string() + ": " + std::strerror(error));
        }
        if (n == 0) break;
        if (bytes.size() + size_t(n) > maxBytes) throw tooLarge();
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    close(fd);
    return bytes;
}

namespace {

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

}  // namespace pennaro_cli
