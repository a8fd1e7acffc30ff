// The one way to obtain and give back a host suite.
#pragma once

#include "pennaro/errors.h"
#include "pennaro/host_records.h"

namespace pennaro {

// 0, or HOST_ERR_SUITE with `failureText` (or a default text) in the
// message field and output flag 0x100 set. `*suite` is left null on failure.
int32_t AcquireSuite(const HostInData *in, HostOutData *out, const char *name, int32_t version,
                     const char *failureText, const void **suite);
int32_t ReleaseSuite(const HostInData *in, HostOutData *out, const char *name, int32_t version,
                     const char *failureText);

}  // namespace pennaro
