// Worker processes and temporary files that an interrupt must not leave
// behind: SIGINT, SIGTERM or SIGHUP removes the temporary files this process
// holds and stops its workers before the process dies of the signal.
#pragma once

#include <cstddef>
#include <filesystem>

namespace pennaro_cli {

// fork() for a worker process that an interrupt of this one must not leave
// behind: SIGINT, SIGTERM or SIGHUP is passed on to the workers, and their
// exit is waited for (so their temporary files are gone) before this
// process dies of it. Call forgetWorker(pid) once the worker was waited for.
int forkWorker();
void forgetWorker(int pid);

// Registers a temporary file for the interrupt handler; -1 when every slot
// is taken (the write still works, only an interrupt would leave the file).
int holdTemporary(const std::filesystem::path &name);
void releaseTemporary(int &slot);

// The line an interrupted run prints before it dies: how many of the `total`
// frames it set out to write are in place, and that the rest are not.
// `command` starts the line ("pennaro render"); it must outlive the run.
void reportFramesOnInterrupt(const char *command, size_t total);
// One more frame file in place. Safe from any thread.
void countFrameInPlace();
// Called by the interrupt handler once the workers are gone, to count the
// frames they put in place that were not yet counted. Must be
// async-signal-safe.
void setInterruptDrain(void (*drain)());

}  // namespace pennaro_cli
