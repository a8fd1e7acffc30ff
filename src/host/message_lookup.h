// Texts of the string table, looked up through the host on every use.
#pragma once

#include "pennaro/host_records.h"
#include "pennaro/string_table.h"

namespace pennaro {

// Message `number` (0..79) as the host's string table returns it; "" when
// there is no table to draw from.
const char *lookupMessage(const HostInData *in, int32_t number);

// Writes "<message text> : Pennaro" into the message field; with `display`
// also asks the host to show it (output flag 0x100).
void reportMessage(const HostInData *in, HostOutData *out, int32_t number, bool display);

// The table handed to the host's string-table service at global set-up.
const StringTableDescriptor *stringTableDescriptor();

}  // namespace pennaro
