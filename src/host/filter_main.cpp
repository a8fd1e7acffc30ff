// Placeholder dispatch; replaced by the real command dispatch.
#include "host/entry.h"

namespace pennaro {

int32_t filterMain(int32_t, HostInData *, HostOutData *, HostParam *[], HostWorld *, void *) {
    return 0;
}

int32_t pluginDataEntry(void *, HostRegisterEffectFn) { return 0; }

}  // namespace pennaro
