// Placeholders until the render subsystem lands.
#include "params/supervision.h"
#include "render/render.h"

namespace pennaro {

int32_t renderFrame(HostInData *, HostOutData *, HostParam *[], HostWorld *) { return 0; }
void superviseParams(HostInData *, HostOutData *, HostParam *[]) {}
int32_t queryDynamicFlags(HostInData *, HostOutData *) { return 0; }

}  // namespace pennaro
