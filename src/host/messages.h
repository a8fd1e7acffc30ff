// Texts of the string table, looked up through the host on every use.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

inline constexpr const char *PLUGIN_NAME = "Pennaro";

// Message `number` (0..79) as the host's string table returns it.
const char *lookupMessage(const HostInData *in, int32_t number);

// Writes "<message text> : Pennaro" into the message field; with `display`
// also asks the host to show it (output flag 0x100).
void reportMessage(const HostInData *in, HostOutData *out, int32_t number, bool display);

}  // namespace pennaro
