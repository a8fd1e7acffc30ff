// The only two symbols the library exports. Everything else is hidden.
#include "host/entry.h"

#if defined(_WIN32)
#define PENNARO_EXPORT extern "C" __declspec(dllexport)
#else
#define PENNARO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

PENNARO_EXPORT int32_t PluginDataEntryFunction(void *hostPtr, HostRegisterEffectFn callback,
                                               void * /*reserved1*/, void * /*reserved2*/) {
    return pennaro::pluginDataEntry(hostPtr, callback);
}

PENNARO_EXPORT int32_t FilterMain(int32_t command, HostInData *in, HostOutData *out,
                                  HostParam *params[], HostWorld *output, void *extra) {
    return pennaro::filterMain(command, in, out, params, output, extra);
}
