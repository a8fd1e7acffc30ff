#include "cli/serve/worker_pool.h"

#include <CLI/CLI.hpp>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <list>
#include <nlohmann/json.hpp>

#include "cli/core/memory_budget.h"
#include "cli/render/prefs_file.h"
#include "minihost/minihost.h"

extern char **environ;

namespace pennaro_cli {

namespace {

// Options a request may not give: they name files, outputs, or how a run
// is split, none of which a frame request has.
const char *const REFUSED_OPTIONS[] = {"layer", "params",   "prefs", "output", "o",     "contact-sheet",
                                       "jobs",  "j",        "chunk", "skip-existing", "quiet", "q",
                                       "frames", "plugin", "max-memory", "exr-type", "dry-run", "n", "verbose", "v"};

// A preference value from text: a number when it reads as one (whole
// numbers as integers), else the text, which the preference reader refuses
// by name.
nlohmann::json prefValue(const std::string &text) {
    if (!text.empty()) {
        char *end = nullptr;
        errno = 0;
        long long whole = std::strtoll(text.c_str(), &end, 10);
        if (*end == '\0' && errno == 0) return whole;
        double real = std::strtod(text.c_str(), &end);
        if (*end == '\0' && errno == 0) return real;
    }
    return text;
}

}  // namespace

FrameRequest parseFrameRequest(const Query &query, size_t drawingCount) {
    FrameRequest request;
    bool haveDrawing = false, haveFrame = false;
    nlohmann::json prefs = nlohmann::json::object();
    std::string options;
    for (const auto &[name, value] : query) {
        if (name == "drawing") {
            char *end = nullptr;
            errno = 0;
            unsigned long long index = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || value[0] == '-' || index >= drawingCount)
                throw UsageError("drawing=" + value + ": there " +
                                 (drawingCount == 1 ? std::string("is one drawing (0)")
                                                    : "are " + std::to_string(drawingCount) + " drawings (0 to " +
                                                          std::to_string(drawingCount - 1) + ")"));
            request.drawing = size_t(index);
            haveDrawing = true;
        } else if (name == "frame") {
            request.args.insert(request.args.begin(), {"--frames", value});
            haveFrame = true;
        } else if (name.rfind("pref.", 0) == 0) {
            prefs[name.substr(5)] = prefValue(value);
        } else if (name == "png") {
            if (value != "compact" && value != "fast") throw UsageError("png=" + value + ": compact or fast");
            request.encoding = value == "fast" ? PngEncoding::Fast : PngEncoding::Compact;
        } else if (name == "v") {
            // A page's cache breaker; it changes nothing.
        } else {
            for (const char *refused : REFUSED_OPTIONS)
                if (name == refused)
                    throw UsageError(name + " cannot be chosen by a request" +
                                     (name == "frames" ? std::string("; ask for one frame with frame=N")
                                                       : std::string(": files and outputs are the server's")));
            request.args.push_back("--" + name);
            request.args.push_back(value);
            options += "\n" + name + "=" + value;
        }
    }
    if (!haveDrawing) throw UsageError("drawing=I is needed (I counts from 0 in the order of /api/drawings)");
    if (!haveFrame) throw UsageError("frame=N is needed");
    if (!prefs.empty()) request.prefsText = prefs.dump();
    request.sessionKey = std::to_string(request.drawing) + options + "\nprefs=" + request.prefsText;
    return request;
}

RenderJob resolveFrameRequest(const FrameRequest &request, const ServedDrawing &drawing,
                              const ServeSettings &settings) {
    CLI::App app("", "render");
    RenderOptions o;
    addRenderOptions(app, o);
    std::vector<std::string> args{"render"};
    args.insert(args.end(), request.args.begin(), request.args.end());
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    try {
        app.parse(int(argv.size()), argv.data());
    } catch (const CLI::ParseError &e) {
        throw UsageError(e.what());
    }
    o.drawing = drawing.name;
    o.layer = settings.layer;
    o.common.plugin = settings.plugin;
    // The server, not the page, decides how the cores are shared.
    o.threads = settings.threads;
    o.prefsText = request.prefsText;
    if (!o.prefsText.empty()) {
        minihost::PrefStore scratch;
        try {
            loadPrefsText(scratch, o.prefsText, "pref");
        } catch (const ToolError &e) {
            throw UsageError(e.what());
        }
    }
    RenderJob job = resolveJob(o, &drawing.drawing);
    if (job.frames.size() != 1) throw UsageError("frame=" + o.frames + ": one frame number is asked for at a time");
    if (job.layerPattern.empty()) {
        const int64_t pixels = int64_t(scaledExtent(job.width, job.downsampleX)) * scaledExtent(job.height, job.downsampleY);
        if (job.width > SERVE_MAX_EXTENT || job.height > SERVE_MAX_EXTENT || pixels > SERVE_MAX_PIXELS)
            throw UsageError("size=" + o.size + ": the server renders frames up to " + std::to_string(SERVE_MAX_EXTENT) +
                             " pixels on a side and " + std::to_string(SERVE_MAX_PIXELS) + " pixels in all");
    }
    return job;
}

// ---- messages between the server and its workers
//
// A message is a count of strings, then each string as its length and its
// bytes, lengths and counts as 32-bit words in this machine's order.

namespace {

bool writeAll(int fd, const void *data, size_t size) {
    auto *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, void *data, size_t size) {
    auto *p = static_cast<char *>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n, size -= size_t(n);
    }
    return true;
}

bool sendStrings(int fd, const std::vector<std::string> &strings) {
    std::string message;
    auto word = [&](uint32_t v) { message.append(reinterpret_cast<const char *>(&v), sizeof v); };
    word(uint32_t(strings.size()));
    for (const auto &s : strings) {
        word(uint32_t(s.size()));
        message += s;
    }
    return writeAll(fd, message.data(), message.size());
}

// Both sides are this very program, so only a broken pipe is expected; the
// limits still stop a stray write from making a huge allocation.
constexpr uint32_t MAX_STRINGS = 4096;
constexpr uint32_t MAX_STRING_BYTES = uint32_t(1) << 31;

bool receiveStrings(int fd, std::vector<std::string> &strings) {
    uint32_t count = 0;
    if (!readAll(fd, &count, sizeof count) || count > MAX_STRINGS) return false;
    strings.assign(count, std::string());
    for (auto &s : strings) {
        uint32_t size = 0;
        if (!readAll(fd, &size, sizeof size) || size > MAX_STRING_BYTES) return false;
        s.resize(size);
        if (!readAll(fd, s.data(), size)) return false;
    }
    return true;
}

// Waits until `fd` can be read or the deadline passes.
bool readable(int fd, std::chrono::steady_clock::time_point deadline) {
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        int n = poll(&p, 1, int(std::min<int64_t>(left.count(), 60000)));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

}  // namespace

// ---- the pool

struct RenderPool::Worker {
    pid_t pid = -1;
    int fd = -1;
    bool busy = false;
    std::string lastKey;
};

RenderPool::RenderPool(int workers, ServeSettings settings, std::chrono::seconds renderLimit)
    : settings_(std::move(settings)), renderLimit_(renderLimit) {
    for (int i = 0; i < std::max(workers, 1); ++i) workers_.push_back(std::make_unique<Worker>());
    for (auto &w : workers_) start(*w);
}

RenderPool::~RenderPool() {
    for (auto &w : workers_) stop(*w);
}

void RenderPool::start(Worker &worker) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw ToolError(std::string("cannot start a render worker: ") + std::strerror(errno));
    // The child's end arrives as a fixed descriptor, which dup2 leaves open
    // across exec; every other descriptor of the server closes there.
    const int childFd = fds[1] == 200 ? 201 : 200;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], childFd);
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const uint64_t share = std::max<uint64_t>(memoryBudget() / workers_.size(), MIN_DEFAULT_BUDGET);
    std::vector<std::string> args{exe, "serve", "--worker", std::to_string(childFd), "--max-memory",
                                  std::to_string(share)};
    if (!settings_.plugin.empty()) args.insert(args.end(), {"--plugin", settings_.plugin});
    if (!settings_.layer.empty()) args.insert(args.end(), {"--layer", settings_.layer});
    args.insert(args.end(), {"--threads", std::to_string(settings_.threads)});
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        throw ToolError(std::string("cannot start a render worker: ") + std::strerror(error));
    }
    worker.pid = pid;
    worker.fd = fds[0];
    worker.lastKey.clear();
}

void RenderPool::stop(Worker &worker) {
    if (worker.fd >= 0) close(worker.fd);
    worker.fd = -1;
    if (worker.pid > 0) {
        // Closing its end ends a waiting worker; one still rendering is
        // stopped.
        int status = 0;
        for (int i = 0; i < 50; ++i) {
            if (waitpid(worker.pid, &status, WNOHANG) == worker.pid) {
                worker.pid = -1;
                return;
            }
            usleep(10000);
        }
        kill(worker.pid, SIGKILL);
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    worker.pid = -1;
}

RenderPool::Worker &RenderPool::acquire(const std::string &key) {
    std::unique_lock lock(mutex_);
    while (true) {
        Worker *any = nullptr;
        for (auto &w : workers_) {
            if (w->busy) continue;
            if (w->lastKey == key) {
                any = w.get();
                break;
            }
            if (!any) any = w.get();
        }
        if (any) {
            any->busy = true;
            return *any;
        }
        idle_.wait(lock);
    }
}

void RenderPool::release(Worker &worker) {
    {
        std::lock_guard lock(mutex_);
        worker.busy = false;
    }
    idle_.notify_all();
}

FrameReply RenderPool::render(const FrameRequest &request, const ServedDrawing &drawing, int32_t frame) {
    const std::string key = request.sessionKey + "\nrevision=" + std::to_string(drawing.revision);
    Worker &worker = acquire(key);
    FrameReply reply;
    std::vector<std::string> message{key, std::to_string(frame), drawing.name,
                                     std::string(drawing.drawing.block.begin(), drawing.drawing.block.end()),
                                     request.prefsText,
                                     request.encoding == PngEncoding::Fast ? "fast" : "compact"};
    message.insert(message.end(), request.args.begin(), request.args.end());
    std::vector<std::string> answer;
    bool ok = worker.fd >= 0 && sendStrings(worker.fd, message) &&
              readable(worker.fd, std::chrono::steady_clock::now() + renderLimit_) &&
              receiveStrings(worker.fd, answer) && answer.size() == 3;
    if (ok) {
        reply.status = FrameReply::Status(std::strtoul(answer[0].c_str(), nullptr, 10));
        reply.reused = answer[1] == "1";
        reply.body = std::move(answer[2]);
        worker.lastKey = key;
        std::lock_guard lock(mutex_);
        (reply.reused ? reused_ : loaded_)++;
    } else {
        reply.status = FrameReply::Failed;
        reply.body = "frame " + std::to_string(frame) + ": the render did not finish within " +
                     std::to_string(renderLimit_.count()) + " seconds or its worker stopped; a new worker takes over";
        stop(worker);
        try {
            start(worker);
        } catch (const std::exception &) {
            // Left without a process; its next request fails the same way
            // and tries again.
        }
    }
    release(worker);
    return reply;
}

uint64_t RenderPool::sessionsLoaded() const {
    std::lock_guard lock(mutex_);
    return loaded_;
}

uint64_t RenderPool::sessionsReused() const {
    std::lock_guard lock(mutex_);
    return reused_;
}

// ---- the worker

namespace {

struct KeptSession {
    std::string key;
    std::unique_ptr<RenderJob> job;  // the session refers to it
    std::unique_ptr<RenderSession> session;
    uint64_t bytes = 0;
};

constexpr size_t MAX_KEPT_SESSIONS = 8;

}  // namespace

int runServeWorker(int fd, const ServeSettings &settings, uint64_t sessionBudget) {
    std::list<KeptSession> kept;  // most recently used first
    uint64_t keptBytes = 0;
    std::vector<std::string> message;
    while (receiveStrings(fd, message)) {
        std::vector<std::string> answer{"2", "0", ""};
        if (message.size() < 6) return 1;
        const std::string &key = message[0];
        try {
            const int32_t frame = int32_t(std::strtol(message[1].c_str(), nullptr, 10));
            auto at = std::find_if(kept.begin(), kept.end(), [&](const KeptSession &k) { return k.key == key; });
            if (at != kept.end()) {
                kept.splice(kept.begin(), kept, at);
                answer[1] = "1";
            } else {
                ServedDrawing drawing;
                drawing.name = message[2];
                drawing.drawing.block.assign(message[3].begin(), message[3].end());
                FrameRequest request;
                request.prefsText = message[4];
                request.args.assign(message.begin() + 6, message.end());
                KeptSession fresh;
                fresh.key = key;
                fresh.job = std::make_unique<RenderJob>(resolveFrameRequest(request, drawing, settings));
                const RenderJob &job = *fresh.job;
                fresh.bytes = uint64_t(scaledExtent(job.width, job.downsampleX)) *
                                  uint64_t(scaledExtent(job.height, job.downsampleY)) * (job.depth / 2) * 2 +
                              job.block.size();
                // The least recently used go first, leaving room for this one.
                while (!kept.empty() && (kept.size() >= MAX_KEPT_SESSIONS || keptBytes + fresh.bytes > sessionBudget)) {
                    keptBytes -= kept.back().bytes;
                    kept.pop_back();
                }
                fresh.session = std::make_unique<RenderSession>(job);
                keptBytes += fresh.bytes;
                kept.push_front(std::move(fresh));
            }
            const PngEncoding encoding = message[5] == "fast" ? PngEncoding::Fast : PngEncoding::Compact;
            std::vector<uint8_t> png = kept.front().session->renderFramePng(frame, encoding);
            answer[0] = "0";
            answer[2].assign(png.begin(), png.end());
        } catch (const UsageError &e) {
            answer[0] = "1";
            answer[2] = e.what();
        } catch (const std::exception &e) {
            answer[2] = failureText(e);
            // A session whose frame failed is not trusted with the next one.
            if (!kept.empty() && kept.front().key == key) {
                keptBytes -= kept.front().bytes;
                kept.pop_front();
            }
        }
        if (!sendStrings(fd, answer)) break;
    }
    return 0;
}

}  // namespace pennaro_cli
