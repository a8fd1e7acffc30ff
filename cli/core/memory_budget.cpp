#include "cli/core/memory_budget.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

#include "minihost/minihost.h"

namespace pennaro_cli {

namespace {

uint64_t budgetInForce = 0;  // 0: the default, not computed yet
thread_local std::string activity;
void *emergencyReserve = nullptr;

void outOfMemory() {
    std::free(emergencyReserve);
    emergencyReserve = nullptr;
    throw std::bad_alloc();
}

void setAsideReserve() {
    if (emergencyReserve) return;
    emergencyReserve = std::malloc(EMERGENCY_RESERVE_BYTES);
    std::set_new_handler(outOfMemory);
}

// A limit as a cgroup file writes it: a number, or "max" for none.
uint64_t cgroupLimit(const std::string &path) {
    std::ifstream in(path);
    std::string word;
    if (!(in >> word) || word == "max") return UINT64_MAX;
    try {
        return std::stoull(word);
    } catch (const std::exception &) {
        return UINT64_MAX;
    }
}

// The memory limit of the process's control group (v2 or v1), or none.
uint64_t controlGroupLimit() {
    uint64_t lowest = UINT64_MAX;
    std::ifstream groups("/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        // hierarchy-ID:controllers:path
        const size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            lowest = std::min(lowest, cgroupLimit("/sys/fs/cgroup" + path + "/memory.max"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            lowest = std::min(lowest, cgroupLimit("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes"));
        }
    }
    // Inside a container the group's own files are often at the root.
    lowest = std::min(lowest, cgroupLimit("/sys/fs/cgroup/memory.max"));
    return std::min(lowest, cgroupLimit("/sys/fs/cgroup/memory/memory.limit_in_bytes"));
}

uint64_t resourceLimit(int resource) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return uint64_t(limit.rlim_cur);
}

}  // namespace

uint64_t parseMemorySize(const std::string &text) {
    size_t digits = 0;
    while (digits < text.size() && (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.'))
        ++digits;
    if (digits == 0) throw std::invalid_argument("'" + text + "' is not a size (such as 512M or 4G)");
    std::string unit = text.substr(digits);
    for (auto &c : unit) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (unit.size() > 1 && (unit.substr(1) == "B" || unit.substr(1) == "IB")) unit.resize(1);
    if (unit == "B") unit.clear();
    const std::string units = "KMGT";
    if (unit.size() > 1 || (unit.size() == 1 && units.find(unit[0]) == std::string::npos))
        throw std::invalid_argument("'" + text + "': the unit must be K, M, G or T");
    double value = 0;
    std::istringstream number(text.substr(0, digits));
    if (!(number >> value) || !number.eof())
        throw std::invalid_argument("'" + text + "' is not a size (such as 512M or 4G)");
    const int shift = unit.empty() ? 0 : 10 * (int(units.find(unit[0])) + 1);
    const double bytes = std::floor(std::ldexp(value, shift));
    if (!(bytes >= 1)) throw std::invalid_argument("'" + text + "': the size must be above 0");
    if (bytes >= 0x1p64) throw std::invalid_argument("'" + text + "' is larger than any memory");
    return uint64_t(bytes);
}

std::string formatMemorySize(uint64_t bytes) {
    static const char *const names[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = double(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 5) value /= 1024, ++unit;
    char text[32];
    std::snprintf(text, sizeof text, value < 10 && value != std::floor(value) ? "%.1f %s" : "%.0f %s", value,
                  names[unit]);
    return text;
}

uint64_t defaultMemoryBudget() {
    uint64_t lowest = UINT64_MAX;
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) lowest = uint64_t(pages) * uint64_t(pageSize) / 2;
    lowest = std::min({lowest, resourceLimit(RLIMIT_AS), resourceLimit(RLIMIT_DATA), controlGroupLimit()});
    if (lowest == UINT64_MAX) lowest = uint64_t(4) << 30;
    return lowest > MIN_DEFAULT_BUDGET + TOOL_HEADROOM_BYTES ? lowest - TOOL_HEADROOM_BYTES : MIN_DEFAULT_BUDGET;
}

uint64_t memoryBudget() {
    if (budgetInForce == 0) setMemoryBudget(defaultMemoryBudget());
    return budgetInForce;
}

void setMemoryBudget(uint64_t bytes) {
    budgetInForce = bytes;
    minihost::setHandleBudget(bytes);
}

void takeWorkerShare(int workers) {
    if (workers <= 1) return;
    const uint64_t budget = memoryBudget();
    const uint64_t held = std::min(budget, minihost::handleStore().counters().reservedBytes);
    minihost::setHandleBudget(held + (budget - held) / uint64_t(workers));
}

void addMemoryOption(CLI::App &app) {
    app.add_option_function<std::string>(
           "--max-memory",
           [](const std::string &text) {
               setAsideReserve();
               if (text.empty()) {
                   memoryBudget();
                   return;
               }
               try {
                   setMemoryBudget(parseMemorySize(text));
               } catch (const std::invalid_argument &e) {
                   throw CLI::ValidationError("--max-memory", e.what());
               }
           },
           "The most memory a drawing and the effect may take, such as 512M or 4G (default: the lowest of "
           "half the machine's memory and the process's limits, less " +
               formatMemorySize(TOOL_HEADROOM_BYTES) + " for the tool; shared by --jobs workers)")
        ->type_name("SIZE")
        ->force_callback();
}

MemoryActivity::MemoryActivity(std::string what)
    : previous_(std::move(activity)), exceptions_(std::uncaught_exceptions()) {
    activity = std::move(what);
}

MemoryActivity::~MemoryActivity() {
    if (std::uncaught_exceptions() > exceptions_) return;
    activity = std::move(previous_);
}

std::string outOfMemoryMessage() {
    return "out of memory" + (activity.empty() ? std::string() : " while " + activity) + " (memory budget " +
           formatMemorySize(memoryBudget()) + "; see --max-memory)";
}

}  // namespace pennaro_cli

namespace pennaro_cli {

std::string failureText(const std::exception &e) {
    if (dynamic_cast<const std::bad_alloc *>(&e)) return outOfMemoryMessage();
    return e.what();
}

}  // namespace pennaro_cli
