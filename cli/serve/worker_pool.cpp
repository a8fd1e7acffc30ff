#include "cli/serve/worker_pool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "cli/core/memory_budget.h"
#include "cli/serve/worker_messages.h"

extern char **environ;

namespace pennaro_cli {

namespace {

// Both ends are this very program; the bound only keeps a stray write from
// making a huge allocation.
constexpr uint32_t MAX_MESSAGE_BYTES = uint32_t(1) << 31;

// The descriptor a worker finds its socket on; it inherits no other but
// standard input, output and error.
constexpr int WORKER_FD = 3;

// Whether the worker's end shows it gone (or talking out of turn) without
// waiting.
bool showsGone(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) != 0;
}

}  // namespace

struct RenderPool::Worker {
    pid_t pid = -1;
    int fd = -1;
    bool busy = false;
    bool dead = false;  // to be reaped and replaced by the watching thread
    std::string lastKey;
    std::map<uint64_t, uint64_t> held;  // drawing → revision + 1 of the bytes it holds
};

struct RenderPool::Waiter {
    const RenderTicket *ticket;
    bool superseded = false;
};

RenderPool::RenderPool(int workers, ServeSettings settings, std::chrono::seconds renderLimit)
    : settings_(std::move(settings)), renderLimit_(renderLimit) {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw ToolError(std::string("cannot start the render workers: ") + std::strerror(errno));
    for (int i = 0; i < std::max(workers, 1); ++i) workers_.push_back(std::make_unique<Worker>());
    for (auto &w : workers_) start(*w);
    watcher_ = std::thread([this] { watch(); });
}

RenderPool::~RenderPool() {
    shutdown();
    watcher_.join();
    for (auto &w : workers_) reap(*w);
    close(wake_[0]);
    close(wake_[1]);
}

void RenderPool::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        // Renders in progress end with their workers' sockets. (A coverage
        // build lets them finish, so that the workers exit with their counts.)
#ifndef PENNARO_COVERAGE
        for (auto &w : workers_)
            if (w->pid > 0) kill(w->pid, SIGKILL);
#endif
    }
    idle_.notify_all();
    [[maybe_unused]] ssize_t n = write(wake_[1], "x", 1);
}

void RenderPool::start(Worker &worker) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw ToolError(std::string("cannot start a render worker: ") + std::strerror(errno));
    if (fds[1] == WORKER_FD) {
        const int moved = fcntl(fds[1], F_DUPFD_CLOEXEC, WORKER_FD + 1);
        close(fds[1]);
        fds[1] = moved;
    }
    // Every descriptor but the worker's socket closes in the child, client
    // connections included, whether or not they were made close-on-exec.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], WORKER_FD);
    posix_spawn_file_actions_addclosefrom_np(&actions, WORKER_FD + 1);
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    const uint64_t share = std::max<uint64_t>(memoryBudget() / workers_.size(), MIN_DEFAULT_BUDGET);
    std::vector<std::string> args{exe, "serve", "--worker", std::to_string(WORKER_FD), "--max-memory",
                                  std::to_string(share)};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        throw ToolError(std::string("cannot start a render worker: ") + std::strerror(error));
    }
    worker.pid = pid;
    worker.fd = fds[0];
    worker.dead = false;
    worker.lastKey.clear();
    worker.held.clear();
}

void RenderPool::reap(Worker &worker) {
    if (worker.fd >= 0) close(worker.fd);
    worker.fd = -1;
#ifdef PENNARO_COVERAGE
    // A worker whose socket closed returns from its loop and exits, writing
    // its counts; it is given a moment for that (and, once reaped here, is
    // not signalled: its number may already be another process's).
    for (int i = 0; worker.pid > 0 && i < 200; ++i) {
        if (waitpid(worker.pid, nullptr, WNOHANG) == worker.pid) worker.pid = -1;
        else usleep(10000);
    }
#endif
    if (worker.pid > 0) {
        kill(worker.pid, SIGKILL);
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    worker.pid = -1;
}

// The pool's own thread: notices idle workers that died (their socket
// closes) and replaces every worker marked dead, so that no zombie is left
// and the next request finds a live worker.
void RenderPool::watch() {
    while (true) {
        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
        bool retry = false;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            for (auto &w : workers_) {
                if (w->busy) continue;
                if (!w->dead && w->fd >= 0 && !showsGone(w->fd)) {
                    fds.push_back({w->fd, POLLIN, 0});
                    continue;
                }
                reap(*w);
                try {
                    start(*w);
                    ++counters_.workersReplaced;
                } catch (const std::exception &) {
                    w->dead = true;  // tried again on the next wake
                }
                idle_.notify_all();
            }
            retry = std::any_of(workers_.begin(), workers_.end(), [](auto &w) { return w->pid < 0; });
        }
        poll(fds.data(), fds.size(), retry ? 1000 : -1);
        char drain[64];
        while (read(wake_[0], drain, sizeof drain) > 0) {
        }
    }
}

RenderPool::Worker *RenderPool::acquire(const std::string &key, const RenderTicket &ticket, FrameReply &refusal) {
    std::unique_lock lock(mutex_);
    auto idleWorker = [&]() -> Worker * {
        Worker *any = nullptr;
        for (auto &w : workers_) {
            if (w->busy || w->dead || w->pid < 0) continue;
            if (w->lastKey == key) return w.get();
            if (!any) any = w.get();
        }
        return any;
    };
    Worker *found = stopping_ ? nullptr : idleWorker();
    if (!found && !stopping_) {
        size_t mine = 0;
        for (Waiter *w : waiting_) {
            if (w->ticket->client != ticket.client) continue;
            if (!ticket.view.empty() && w->ticket->view == ticket.view) w->superseded = true;
            else ++mine;
        }
        idle_.notify_all();
        if (mine >= MAX_WAITING_PER_CLIENT) {
            refusal = {FrameReply::Busy, "every render worker is busy and " + std::to_string(mine) +
                                             " frames of this client are waiting; ask again shortly"};
            return nullptr;
        }
        Waiter self{&ticket};
        waiting_.push_back(&self);
        while (!stopping_ && !self.superseded && !(found = idleWorker())) idle_.wait(lock);
        waiting_.remove(&self);
        if (self.superseded && !found)
            refusal = {FrameReply::Superseded, "superseded by a newer request for the same view"};
    }
    if (stopping_) {
        found = nullptr;
        refusal = {FrameReply::Failed, "the server is stopping"};
    }
    if (found) found->busy = true;
    return found;
}

void RenderPool::release(Worker &worker, bool failed) {
    {
        std::lock_guard lock(mutex_);
        worker.busy = false;
        if (failed) worker.dead = true;
    }
    idle_.notify_all();
    // The watching thread watches idle workers only: it learns of this one.
    [[maybe_unused]] ssize_t n = write(wake_[1], "x", 1);
}

FrameReply RenderPool::render(const FrameRequest &request, const RenderTicket &ticket) {
    WorkerRequest message;
    message.frame = request.frame;
    message.encoding = request.encoding;
    message.drawing = request.drawing;
    message.revision = request.revision;
    // The look travels without the drawing; the drawing is added only for a
    // worker that does not hold this revision.
    RenderJob &job = message.job;
    job = request.job;
    std::vector<uint8_t> block = std::move(job.block);
    job.block.clear();
    const std::string key = sessionKeyOf(message);

    for (int attempt = 0; attempt < 2; ++attempt) {
        FrameReply reply;
        Worker *worker = acquire(key, ticket, reply);
        if (!worker) return reply;
        // A worker found gone before it was asked anything: another takes
        // the request.
        if (worker->fd < 0 || showsGone(worker->fd)) {
            release(*worker, true);
            continue;
        }
        bool ok = true, started = false;
        WorkerReply answer;
        for (int round = 0; ok && round < 2; ++round) {
            message.carriesDrawing = worker->held[request.drawing] != request.revision + 1;
            if (message.carriesDrawing) {
                job.block = block;
                job.drawingName = request.job.drawingName;
            }
            const std::string bytes = encodeWorkerRequest(message);
            job.block.clear();
            if (!sendMessage(worker->fd, bytes)) {
                ok = false;
                break;
            }
            started = true;
            if (message.carriesDrawing) {
                std::lock_guard lock(mutex_);
                counters_.drawingBytesSent += block.size();
            }
            const auto deadline = std::chrono::steady_clock::now() + renderLimit_;
            std::string received;
            pollfd p{worker->fd, POLLIN, 0};
            int ready = 0;
            while (ready == 0 && std::chrono::steady_clock::now() < deadline) {
                ready = poll(&p, 1, 200);
                if (ready < 0 && errno == EINTR) ready = 0;
            }
            try {
                ok = ready > 0 && receiveMessage(worker->fd, received, MAX_MESSAGE_BYTES);
                if (ok) answer = decodeWorkerReply(received);
            } catch (const std::exception &) {
                ok = false;
            }
            if (ok) worker->held[request.drawing] = request.revision + 1;
            if (!ok || answer.status != WorkerReply::NeedsDrawing) break;
            worker->held.erase(request.drawing);
        }
        if (ok && answer.status != WorkerReply::NeedsDrawing) {
            worker->lastKey = key;
            {
                std::lock_guard lock(mutex_);
                (answer.reused ? counters_.sessionsReused : counters_.sessionsLoaded)++;
            }
            release(*worker, false);
            reply.status = answer.status == WorkerReply::Png          ? FrameReply::Png
                           : answer.status == WorkerReply::BadRequest ? FrameReply::BadRequest
                                                                      : FrameReply::Failed;
            reply.reused = answer.reused;
            reply.body = std::move(answer.body);
            return reply;
        }
        release(*worker, true);
        if (started || attempt == 1) {
            reply.status = FrameReply::Failed;
            reply.body = "frame " + std::to_string(request.frame) + ": the render did not finish within " +
                         std::to_string(renderLimit_.count()) + " seconds or its worker stopped; a new worker takes over";
            return reply;
        }
    }
    return {FrameReply::Failed, "no render worker could be started", false};
}

RenderPool::Counters RenderPool::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

std::vector<int> RenderPool::workerPids() const {
    std::lock_guard lock(mutex_);
    std::vector<int> pids;
    for (const auto &w : workers_) pids.push_back(w->pid);
    return pids;
}

// ---- the worker

namespace {

struct KeptSession {
    std::string key;
    std::unique_ptr<RenderJob> job;  // the session refers to it
    std::unique_ptr<RenderSession> session;
    uint64_t bytes = 0;
};

struct HeldDrawing {
    uint64_t revision = 0;
    std::string name;
    std::vector<uint8_t> block;
};

constexpr size_t MAX_KEPT_SESSIONS = 8;

}  // namespace

int runServeWorker(int fd, uint64_t sessionBudget, uint64_t layerBudget) {
    // However the server goes, its workers go with it: the kernel kills a
    // worker whose parent dies, and one whose parent died already finds
    // its socket closed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (showsGone(fd)) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 0);
        if (p.revents & (POLLHUP | POLLERR)) return 0;
    }
    std::list<KeptSession> kept;  // most recently used first
    uint64_t keptBytes = 0;
    std::map<uint64_t, HeldDrawing> drawings;
    // Plates decoded once for every session of this worker.
    LayerCache layers(layerBudget);
    int32_t lastFrame = 0;
    std::string bytes;
    while (receiveMessage(fd, bytes, MAX_MESSAGE_BYTES)) {
        WorkerReply answer;
        std::string key;
        const RenderJob *answered = nullptr;  // its frame rendered
        int32_t step = 1;
        try {
            WorkerRequest request = decodeWorkerRequest(bytes);
            bytes.clear();
            bytes.shrink_to_fit();
            if (request.carriesDrawing)
                drawings[request.drawing] = {request.revision, request.job.drawingName, std::move(request.job.block)};
            key = sessionKeyOf(request);
            auto at = std::find_if(kept.begin(), kept.end(), [&](const KeptSession &k) { return k.key == key; });
            if (at != kept.end()) {
                kept.splice(kept.begin(), kept, at);
                answer.reused = true;
            } else {
                auto held = drawings.find(request.drawing);
                if (held == drawings.end() || held->second.revision != request.revision) {
                    answer.status = WorkerReply::NeedsDrawing;
                    if (!sendMessage(fd, encodeWorkerReply(answer))) break;
                    continue;
                }
                KeptSession fresh;
                fresh.key = key;
                fresh.job = std::make_unique<RenderJob>(std::move(request.job));
                RenderJob &job = *fresh.job;
                job.block = held->second.block;
                job.drawingName = held->second.name;
                fresh.bytes = uint64_t(scaledExtent(job.width, job.downsampleX)) *
                                  uint64_t(scaledExtent(job.height, job.downsampleY)) * (job.depth / 2) * 2 +
                              job.block.size();
                // The least recently used go first, leaving room for this one.
                while (!kept.empty() && (kept.size() >= MAX_KEPT_SESSIONS || keptBytes + fresh.bytes > sessionBudget)) {
                    keptBytes -= kept.back().bytes;
                    kept.pop_back();
                }
                fresh.session = std::make_unique<RenderSession>(job);
                fresh.session->layerCache = &layers;
                keptBytes += fresh.bytes;
                kept.push_front(std::move(fresh));
            }
            std::vector<uint8_t> png = kept.front().session->renderFramePng(request.frame, request.encoding);
            answer.status = WorkerReply::Png;
            answer.body.assign(png.begin(), png.end());
            answered = kept.front().job.get();
            step = request.frame < lastFrame ? -1 : 1;
            lastFrame = request.frame;
        } catch (const UsageError &e) {
            answer.status = WorkerReply::BadRequest;
            answer.body = e.what();
        } catch (const std::exception &e) {
            answer.status = WorkerReply::Failed;
            answer.body = failureText(e);
            // A session whose frame failed is not trusted with the next one.
            if (!kept.empty() && kept.front().key == key) {
                keptBytes -= kept.front().bytes;
                kept.pop_front();
            }
        }
        if (!sendMessage(fd, encodeWorkerReply(answer))) break;
        // Once answered: the plate of the frame a scrub or playback in the
        // same direction wants next is read while the page shows this one.
        if (answered && lastFrame != (step > 0 ? INT32_MAX : INT32_MIN)) layers.prefetch(*answered, lastFrame + step);
    }
    return 0;
}

}  // namespace pennaro_cli
