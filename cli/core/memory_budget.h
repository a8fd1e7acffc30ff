// How much memory the tool lets a drawing and the effect take, and what it
// says when that runs out.
//
// The budget is enforced by the stand-in host's handle allocator, so that
// the effect's own out-of-memory path (its message, nothing saved) runs
// before the machine starts swapping; the tool checks what a drawing would
// expand to against the same budget before building anything from it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace CLI {
class App;
}

namespace pennaro_cli {

// Kept out of the default budget for the tool itself: its code and the
// effect's, stacks, the file being read, images and encoders.
inline constexpr uint64_t TOOL_HEADROOM_BYTES = uint64_t(128) << 20;
// Set aside when a command starts and given back the first time memory
// runs out, so that the unwinding that follows (the JSON library's
// destructors allocate) finds memory and the failure is reported instead
// of ending in std::terminate. Part of the headroom.
inline constexpr uint64_t EMERGENCY_RESERVE_BYTES = uint64_t(16) << 20;
// No default budget goes below this, however little the machine reports.
inline constexpr uint64_t MIN_DEFAULT_BUDGET = uint64_t(32) << 20;

// "512M", "4G", "1.5G", "65536" (bytes); K, M, G and T are powers of 1024,
// an optional "B" or "iB" may follow. Throws std::invalid_argument with a
// reason; zero is refused.
uint64_t parseMemorySize(const std::string &text);
// "512 MiB", "1.5 GiB", "900 bytes".
std::string formatMemorySize(uint64_t bytes);

// The lowest of half the machine's memory, the process's address-space and
// data limits and its control group's memory limit, less the headroom.
uint64_t defaultMemoryBudget();

// The budget in force (the default until set), and setting it, which also
// bounds the stand-in host's handles.
uint64_t memoryBudget();
void setMemoryBudget(uint64_t bytes);

// In a worker process of `workers` forked from a loaded session: what the
// session holds already is shared, the rest of the budget is split.
void takeWorkerShare(int workers);

// Adds --max-memory SIZE to a command; the budget (given or default) is put
// in force, and the emergency reserve set aside, once the command line is
// parsed. A malformed size is a usage error.
void addMemoryOption(CLI::App &app);

// What the tool is doing ("reading x.json", "rendering frame 12"), for the
// message when memory runs out; nests. Left by an exception, the innermost
// one stays named, so that the handler that reports it still knows.
class MemoryActivity {
public:
    explicit MemoryActivity(std::string what);
    ~MemoryActivity();
    MemoryActivity(const MemoryActivity &) = delete;
    MemoryActivity &operator=(const MemoryActivity &) = delete;

private:
    std::string previous_;
    int exceptions_;
};

// "out of memory while reading x.json (memory budget 512 MiB; see --max-memory)".
std::string outOfMemoryMessage();
// The message for a failure: that one for std::bad_alloc, what() otherwise.
std::string failureText(const std::exception &e);

}  // namespace pennaro_cli
