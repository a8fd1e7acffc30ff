/* "OVGP Persistent Data Suite", version 3: the application preference
 * store. Entries are called by position. */
#ifndef PENNARO_SUITE_PERSISTENT_DATA_H
#define PENNARO_SUITE_PERSISTENT_DATA_H

#include "host_records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define HOST_PERSISTENT_DATA_SUITE "OVGP Persistent Data Suite"
#define HOST_PERSISTENT_DATA_SUITE_VERSION 3

typedef void *HostPrefStore;

typedef struct HostPersistentDataSuite {
    /* 0: the application's preference store. */
    int32_t (*getApplicationStore)(HostPrefStore *store);
    int32_t (*reserved1)(void);
    int32_t (*reserved2)(void);
    int32_t (*reserved3)(void);
    int32_t (*reserved4)(void);
    int32_t (*reserved5)(void);
    int32_t (*reserved6)(void);
    int32_t (*reserved7)(void);
    int32_t (*reserved8)(void);
    /* 9: read an integer; a missing key yields `dephault`. */
    int32_t (*getInt)(HostPrefStore store, const char *section, const char *key, int32_t dephault,
                      int32_t *out);
    /* 10: read a real; a missing key yields `dephault`. */
    int32_t (*getReal)(HostPrefStore store, const char *section, const char *key, double dephault,
                       double *out);
} HostPersistentDataSuite;

#ifdef __cplusplus
}
#endif
#endif
