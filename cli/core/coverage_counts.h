// In a coverage build, gcov writes a process's counts from its exit
// handlers, which a process ending by a signal never runs: the server dies of
// the signal that stopped it, and its render workers are killed. Those write
// their counts here first; in every other build this does nothing.
#pragma once

#ifdef PENNARO_COVERAGE
extern "C" void __gcov_dump(void);
#endif

namespace pennaro_cli {

inline void writeCoverageCounts() {
#ifdef PENNARO_COVERAGE
    __gcov_dump();
#endif
}

}  // namespace pennaro_cli
