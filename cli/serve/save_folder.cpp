#include "cli/serve/save_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "cli/core/errors.h"

namespace pennaro_cli {
namespace {

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

std::string kindOf(mode_t mode) {
    if (S_ISLNK(mode)) return "a symlink";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

}  // namespace

SaveFolder::SaveFolder(const std::string &path) : path_(path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    fd_ = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) throw ToolError("--save-dir " + path + ": " + (errno == ENOTDIR ? "not a folder" : std::strerror(errno)));
}

SaveFolder::~SaveFolder() {
    if (fd_ >= 0) close(fd_);
}

std::vector<std::string> SaveFolder::savePair(const std::string &base, const std::string &json,
                                              const std::vector<uint8_t> &block,
                                              const std::set<FileIdentity> &inputs) {
    const std::string names[2] = {base + ".json", base + ".bin"};
    const std::string_view contents[2] = {json, {reinterpret_cast<const char *>(block.data()), block.size()}};

    // The lock file is opened without blocking and without following a
    // link, so a FIFO or symlink planted under its name cannot hold the
    // save or lead it elsewhere.
    const std::string lockName = "." + base + ".lock";
    Descriptor lock{openat(fd_, lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600)};
    struct stat st {};
    if (lock.fd < 0 || fstat(lock.fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw SaveRefused(path_ + "/" + lockName + ": cannot be used as the lock of " + base +
                        (lock.fd < 0 ? ": " + std::string(std::strerror(errno)) : ": " + kindOf(st.st_mode)));
    while (flock(lock.fd, LOCK_EX) != 0)
        if (errno != EINTR) throw ToolError(path_ + "/" + lockName + ": cannot lock: " + std::strerror(errno));

    for (const std::string &name : names) {
        if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode))
            throw SaveRefused(path_ + "/" + name + " is " + kindOf(st.st_mode) + "; refusing to save over it");
        if (inputs.count({uint64_t(st.st_dev), uint64_t(st.st_ino)}))
            throw SaveRefused(path_ + "/" + name + " is a file the server was started with; refusing to write over it");
    }
    std::string temporary[2];
    std::random_device random;
    try {
        for (int i = 0; i < 2; ++i) {
            temporary[i] = "." + names[i] + "." + std::to_string(getpid()) + "-" + std::to_string(random()) + ".tmp";
            Descriptor out{openat(fd_, temporary[i].c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644)};
            if (out.fd < 0) {
                temporary[i].clear();
                throw ToolError("cannot write into " + path_ + ": " + std::strerror(errno));
            }
            std::string_view rest = contents[i];
            while (!rest.empty()) {
                const ssize_t n = write(out.fd, rest.data(), rest.size());
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) throw ToolError("cannot write " + path_ + "/" + names[i] + ": " + std::strerror(errno));
                rest.remove_prefix(size_t(n));
            }
            if (fsync(out.fd) != 0) throw ToolError("cannot write " + path_ + "/" + names[i] + ": " + std::strerror(errno));
        }
        for (int i = 0; i < 2; ++i) {
            if (renameat(fd_, temporary[i].c_str(), fd_, names[i].c_str()) != 0)
                throw ToolError("cannot put " + path_ + "/" + names[i] + " in place: " + std::strerror(errno));
            temporary[i].clear();
        }
    } catch (...) {
        for (const std::string &name : temporary)
            if (!name.empty()) unlinkat(fd_, name.c_str(), 0);
        throw;
    }
    fsync(fd_);
    return {(std::filesystem::path(path_) / names[0]).string(), (std::filesystem::path(path_) / names[1]).string()};
}

}  // namespace pennaro_cli
