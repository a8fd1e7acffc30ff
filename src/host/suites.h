// The one way to obtain and give back a host suite.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

inline constexpr int32_t ERR_OUT_OF_MEMORY = 4;
inline constexpr int32_t ERR_SUITE = 516;
inline constexpr int32_t ERR_DATA_MISSING = 517;
// Something that cannot happen with a well-behaved host (a missing callback,
// an unexpected exception caught at the entry points).
inline constexpr int32_t ERR_INTERNAL = 7;

// 0, or 516 with `failureText` (or a default text) in the message field and
// output flag 0x100 set. `*suite` is left null on failure.
int32_t AcquireSuite(const HostInData *in, HostOutData *out, const char *name, int32_t version,
                     const char *failureText, const void **suite);
int32_t ReleaseSuite(const HostInData *in, HostOutData *out, const char *name, int32_t version,
                     const char *failureText);

}  // namespace pennaro
