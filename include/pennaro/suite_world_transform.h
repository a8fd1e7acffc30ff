/* "PF World Transform Suite", version 1. Entries are called by position. */
#ifndef PENNARO_SUITE_WORLD_TRANSFORM_H
#define PENNARO_SUITE_WORLD_TRANSFORM_H

#include "host_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_WORLD_TRANSFORM_SUITE "PF World Transform Suite"
#define HOST_WORLD_TRANSFORM_SUITE_VERSION 1

typedef struct HostWorldTransformSuite {
    int32_t (*reserved0)(void);
    int32_t (*reserved1)(void);
    int32_t (*reserved2)(void);
    /* 3: copy `src` into `dst` (null rectangles: the whole image). */
    int32_t (*copy)(HostEffectRef ref, HostWorld *src, HostWorld *dst, const HostRect *srcRect,
                    const HostRect *dstRect);
} HostWorldTransformSuite;

#ifdef __cplusplus
}
#endif
#endif
