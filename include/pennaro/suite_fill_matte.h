/* "PF Fill Matte Suite", version 2. Entries are called by position. */
#ifndef PENNARO_SUITE_FILL_MATTE_H
#define PENNARO_SUITE_FILL_MATTE_H

#include "host_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_FILL_MATTE_SUITE "PF Fill Matte Suite"
#define HOST_FILL_MATTE_SUITE_VERSION 2

typedef struct HostFillMatteSuite {
    /* 0: fill `rect` (null: whole image) with `color` (null: transparent zero). */
    int32_t (*fill)(HostEffectRef ref, const HostPixel8 *color, const HostRect *rect,
                    HostWorld *world);
} HostFillMatteSuite;

#ifdef __cplusplus
}
#endif
#endif
