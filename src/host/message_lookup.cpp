// Looking up and reporting the effect's messages, and the table the host
// looks them up in.
#include "host/message_lookup.h"

#include <array>

#include "catalog/messages.h"
#include "host/globals.h"
#include "pennaro/string_table.h"

namespace pennaro {

namespace {

constexpr std::array<StringTableEntry, MESSAGE_COUNT + 1> tableEntries() {
    std::array<StringTableEntry, MESSAGE_COUNT + 1> entries{};
    for (int32_t i = 0; i < MESSAGE_COUNT; ++i) entries[i] = StringTableEntry{MESSAGE_KEYS[i], 0, 0, 0};
    entries[MESSAGE_COUNT] = StringTableEntry{nullptr, -1, -1, 0};
    return entries;
}

constexpr std::array<StringTableEntry, MESSAGE_COUNT + 1> ENTRIES = tableEntries();
const StringTableDescriptor DESCRIPTOR = {STRING_TABLE_DICTIONARY, MESSAGE_COUNT + 1, ENTRIES.data(), 0};

}  // namespace

const StringTableDescriptor *stringTableDescriptor() { return &DESCRIPTOR; }

const char *lookupMessage(const HostInData *in, int32_t number) {
    const PaintGlobals *globals = paintGlobals(in);
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
