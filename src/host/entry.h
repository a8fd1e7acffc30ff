// The effect's two entry points as internal functions; src/host/exports.cpp
// exports them from the shared library under the host's names.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

int32_t filterMain(int32_t command, HostInData *in, HostOutData *out, HostParam *params[],
                   HostWorld *output, void *extra);

int32_t pluginDataEntry(void *hostPtr, HostRegisterEffectFn callback);

}  // namespace pennaro
