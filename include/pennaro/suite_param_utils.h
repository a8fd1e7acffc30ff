/* "PF Param Utils Suite", version 3. Entries are called by position. */
#ifndef PENNARO_SUITE_PARAM_UTILS_H
#define PENNARO_SUITE_PARAM_UTILS_H

#include "host_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_PARAM_UTILS_SUITE "PF Param Utils Suite"
#define HOST_PARAM_UTILS_SUITE_VERSION 3

typedef struct HostParamUtilsSuite {
    /* 0: show the control of `index` as described by `param` (UI flags). */
    int32_t (*updateParamUI)(HostEffectRef ref, int32_t index, const HostParam *param);
    int32_t (*reserved1)(void);
    int32_t (*reserved2)(void);
    int32_t (*reserved3)(void);
    int32_t (*reserved4)(void);
    /* 5: keyframe count of parameter `index`; -1 when it is not animated. */
    int32_t (*getKeyframeCount)(HostEffectRef ref, int32_t index, int32_t *count);
} HostParamUtilsSuite;

#ifdef __cplusplus
}
#endif
#endif
