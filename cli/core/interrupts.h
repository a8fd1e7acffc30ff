// Worker processes and temporary files that an interrupt must not leave
// behind: SIGINT, SIGTERM or SIGHUP removes the temporary files this process
// holds and stops its workers before the process dies of the signal.
#pragma once

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

}  // namespace pennaro_cli
