/* Preloaded into the tool by a test: the n-th fork of the process fails
 * with EAGAIN (n from PENNARO_TEST_FAIL_FORK), and the pid of every child
 * made before it goes to the file PENNARO_TEST_FORK_LOG, so that the test
 * can check that none of them outlives the tool. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

pid_t fork(void) {
    static int calls = 0;
    const char *failAt = getenv("PENNARO_TEST_FAIL_FORK");
    if (failAt && ++calls == atoi(failAt)) {
        errno = EAGAIN;
        return -1;
    }
    pid_t pid = ((pid_t(*)(void))dlsym(RTLD_NEXT, "fork"))();
    const char *logPath = getenv("PENNARO_TEST_FORK_LOG");
    FILE *log = pid > 0 && logPath ? fopen(logPath, "a") : NULL;
    if (log) {
        fprintf(log, "%d\n", (int)pid);
        fclose(log);
    }
    return pid;
}
