/* "PF World Suite", version 1. Entries are called by position. */
#ifndef PENNARO_SUITE_WORLD_H
#define PENNARO_SUITE_WORLD_H

#include "host_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_WORLD_SUITE "PF World Suite"
#define HOST_WORLD_SUITE_VERSION 1

#define HOST_NEW_WORLD_FLAG_CLEAR 0x1
#define HOST_NEW_WORLD_FLAG_DEEP 0x2

typedef struct HostWorldSuite {
    /* 0: make a new cleared image; freed with the utilities' disposeWorld. */
    int32_t (*newWorld)(HostEffectRef ref, int32_t width, int32_t height, int32_t flags,
                        HostWorld *out);
} HostWorldSuite;

#ifdef __cplusplus
}
#endif
#endif
