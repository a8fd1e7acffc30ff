// Looking up and reporting the effect's messages.
#include "host/messages.h"

#include "host/globals.h"

namespace pennaro {

const char *lookupMessage(const HostInData *in, int32_t number) {
    const PaintGlobals *globals = paintGlobals(in);
    // Without global set-up there is no table to draw from.
    if (!globals || !in->lookupString) return "";
    const char *text = in->lookupString(globals->stringTable, number, 0, 0);
    return text ? text : "";
}

void reportMessage(const HostInData *in, HostOutData *out, int32_t number, bool display) {
    const char *text = lookupMessage(in, number);
    in->utils->formatText(out->message, "%s : %s", text, PLUGIN_NAME);
    if (display) out->outFlags |= HOST_OUT_FLAG_DISPLAY_ERROR;
}

}  // namespace pennaro
