#include "cli/core/interrupts.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pennaro_cli {

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

// The frames report: set before the run starts, read by the handler.
const char *volatile reportCommand = nullptr;
size_t reportTotal = 0;
std::atomic<size_t> framesInPlace{0};
void (*volatile interruptDrain)() = nullptr;

// Appends `text` or the decimal `value` to a fixed buffer: the handler may
// not format through the heap or stdio.
void append(char *line, size_t &used, size_t capacity, const char *text) {
    while (*text && used + 1 < capacity) line[used++] = *text++;
}
void append(char *line, size_t &used, size_t capacity, size_t value) {
    char digits[24];
    int n = 0;
    do digits[n++] = char('0' + value % 10);
    while ((value /= 10) != 0);
    while (n > 0 && used + 1 < capacity) line[used++] = digits[--n];
}

void printFramesReport(int signal) {
    const char *command = reportCommand;
    if (!command) return;
    const size_t written = framesInPlace.load(), total = reportTotal;
    char line[512];
    size_t used = 0;
    // A progress bar on the terminal is cleared first.
    if (isatty(STDERR_FILENO)) append(line, used, sizeof line, "\r\033[K");
    append(line, used, sizeof line, command);
    append(line, used, sizeof line, signal == SIGINT ? ": interrupted (SIGINT): " :
                                    signal == SIGTERM ? ": interrupted (SIGTERM): " : ": interrupted (SIGHUP): ");
    append(line, used, sizeof line, written);
    append(line, used, sizeof line, " of ");
    append(line, used, sizeof line, total);
    append(line, used, sizeof line, total == 1 ? " frame written" : " frames written");
    if (written < total) {
        append(line, used, sizeof line, "; the other ");
        append(line, used, sizeof line, total - written);
        append(line, used, sizeof line, " were not (--skip-existing renders only those)");
    }
    append(line, used, sizeof line, "\n");
    for (size_t at = 0; at < used;) {
        const ssize_t n = write(STDERR_FILENO, line + at, used - at);
        if (n > 0) at += size_t(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
}

extern "C" void removeTemporariesAndDie(int signal) {
    for (TemporarySlot &slot : temporaries)
        if (slot.live.load()) unlink(slot.name);
    for (auto &worker : workers)
        if (const int pid = worker.load(); pid > 0) kill(pid, signal);
    for (auto &worker : workers)
        if (const int pid = worker.load(); pid > 0)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
    if (void (*drain)() = interruptDrain) drain();
    printFramesReport(signal);
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

}  // namespace

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

void reportFramesOnInterrupt(const char *command, size_t total) {
    installInterruptCleanup();
    reportTotal = total;
    framesInPlace.store(0);
    reportCommand = command;
}

void countFrameInPlace() { framesInPlace.fetch_add(1); }

void setInterruptDrain(void (*drain)()) {
    installInterruptCleanup();
    interruptDrain = drain;
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
        // The parent tells how many frames were written, for all its workers.
        reportCommand = nullptr;
        interruptDrain = nullptr;
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

}  // namespace pennaro_cli
