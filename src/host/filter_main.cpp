// The command entry: the common frame around every command, about, global
// set-up and set-down, and registration of the effect.
#include <cstdlib>
#include <cstring>
#include <new>

#include "catalog/messages.h"
#include "host/commands.h"
#include "host/drawing_commands.h"
#include "host/entry.h"
#include "host/globals.h"
#include "host/messages.h"
#include "host/render_command.h"
#include "pennaro/errors.h"
#include "pennaro/string_table.h"
#include "render/workers.h"

namespace pennaro {

namespace {

// The host's packed version form: 1.2, fix level 2, release stage, build 0.
constexpr uint32_t EFFECT_VERSION = (1u << 19) | (2u << 15) | (2u << 11) | (3u << 9) | 0u;
static_assert(EFFECT_VERSION == 0x91600, "packed effect version");

constexpr uint32_t GLOBAL_OUT_FLAGS = HOST_OUT_FLAG_KEEP_RESOURCES_OPEN | HOST_OUT_FLAG_NONLOCAL_TIME |
                                      HOST_OUT_FLAG_WIDE_TIME_INPUT | HOST_OUT_FLAG_SEQUENCE_FLATTEN |
                                      HOST_OUT_FLAG_OPTIONS_DIALOG | HOST_OUT_FLAG_CUSTOM_UI |
                                      HOST_OUT_FLAG_OBSOLETE | HOST_OUT_FLAG_DEEP_COLOR;
static_assert(GLOBAL_OUT_FLAGS == 0x2208037, "global output flags");

int32_t about(const HostInData *in, HostOutData *out) {
    // Message 0 starts "Pennaro, v%ld.%ld"; the host's "%ld" takes 32 bits.
    in->utils->formatText(out->message, lookupMessage(in, MSG_ABOUT), int32_t{1}, int32_t{2});
    return 0;
}

// Threads a host of our own asks for, in the environment at global set-up:
// PENNARO_THREADS holding a whole number from 1 to the pool's limit. Any
// other host (the original among them) sets no such variable and gets the
// effect without a thread. Read here and nowhere else, so a command never
// sees the variable change under it.
int32_t requestedThreads() {
    const char *text = std::getenv("PENNARO_THREADS");
    if (!text || !*text) return 0;
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > workers::MAX_THREADS) return 0;
    return static_cast<int32_t>(value);
}

int32_t globalSetUp(HostInData *in, HostOutData *out) {
    out->outFlags |= GLOBAL_OUT_FLAGS;
    out->outFlags2 |= HOST_OUT_FLAG2_DYNAMIC_FLAGS;
    out->version = EFFECT_VERSION;

    void *table = const_cast<StringTableDescriptor *>(stringTableDescriptor());
    int32_t err = in->openStringTable(&table, STRING_TABLE_OPEN_FLAGS);
    if (!err) {
        HostHandle globalsHandle = out->globalData;
        if (!globalsHandle) {
            globalsHandle = in->utils->newHandle(sizeof(PaintGlobals));
            if (!globalsHandle) {
                err = HOST_ERR_OUT_OF_MEMORY;
            } else {
                std::memset(*globalsHandle, 0, sizeof(PaintGlobals));
            }
        }
        if (!err) {
            static_cast<PaintGlobals *>(*globalsHandle)->stringTable = table;
            out->globalData = globalsHandle;
            in->globalData = globalsHandle;
            // The high-resolution stylus switch is not used by this effect
            // and stays as it is.
            const PaintPrefs prefs = readPrefs(in, out);
            PaintGlobals &globals = *static_cast<PaintGlobals *>(*globalsHandle);
            globals.drawBrushSprite = static_cast<uint8_t>(prefs.drawBrushSprite != 0);
            globals.previewQuality = static_cast<uint8_t>(prefs.previewQuality != 0);
            globals.showToolbar = static_cast<uint8_t>(prefs.showToolbar != 0);
            globals.onion = prefs.onion;
            if (const int32_t threads = requestedThreads()) workers::enlist(globalsHandle, threads);
            return 0;
        }
    }
    if (table) in->closeStringTable(&table);
    out->outFlags |= HOST_OUT_FLAG_DISPLAY_ERROR;
    in->utils->copyText(out->message, "Pennaro could not be initialized.");
    return err;
}

int32_t globalSetDown(HostInData *in, HostOutData *out) {
    if (in->globalData) workers::dismiss(in->globalData);
    if (PaintGlobals *globals = paintGlobals(in)) {
        void *table = globals->stringTable;
        in->closeStringTable(&table);
        globals->stringTable = nullptr;
    }
    if (in->globalData) in->utils->disposeHandle(in->globalData);
    out->globalData = nullptr;
    in->globalData = nullptr;
    return 0;
}

int32_t dispatch(int32_t command, HostInData *in, HostOutData *out, HostParam *params[], HostWorld *output) {
    switch (command) {
    case HOST_CMD_ABOUT:
        return about(in, out);
    case HOST_CMD_GLOBAL_SETUP:
        return globalSetUp(in, out);
    case HOST_CMD_GLOBAL_SETDOWN:
        return globalSetDown(in, out);
    case HOST_CMD_PARAMS_SETUP:
        return setupParams(in, out);
    case HOST_CMD_SEQUENCE_SETUP:
        return sequenceSetUp(in, out);
    case HOST_CMD_SEQUENCE_RESETUP:
        return sequenceReSetUp(in, out);
    case HOST_CMD_SEQUENCE_FLATTEN:
        return flattenCommand(in, out);
    case HOST_CMD_SEQUENCE_SETDOWN:
        return sequenceSetDown(in);
    case HOST_CMD_RENDER:
        return renderFrame(in, out, params, output);
    case HOST_CMD_USER_CHANGED_PARAM:
    case HOST_CMD_UPDATE_PARAMS_UI:
        superviseParams(in, out, params);
        return 0;
    case HOST_CMD_QUERY_DYNAMIC_FLAGS:
        return queryDynamicFlags(in, out);
    default:
        // The dialog, user-interface events and every other command get
        // no handling.
        return 0;
    }
}

}  // namespace

int32_t filterMain(int32_t command, HostInData *in, HostOutData *out, HostParam *params[], HostWorld *output,
                   void * /*extra*/) {
    if (!in || !out || !in->utils) return HOST_ERR_INTERNAL;
    int32_t err = 0;
    try {
        // The sequence data stays locked between commands and unlocked
        // while one runs; handlers lock what they work on themselves.
        if (in->sequenceData) in->utils->unlockHandle(in->sequenceData);
        err = dispatch(command, in, out, params, output);
    } catch (const std::bad_alloc &) {
        err = HOST_ERR_OUT_OF_MEMORY;
    } catch (...) {
        err = HOST_ERR_INTERNAL;
    }
    // A handler may have replaced or cleared the handle: lock the current one.
    if (in->sequenceData) in->utils->lockHandle(in->sequenceData);
    out->sequenceData = in->sequenceData;
    return err;
}

int32_t pluginDataEntry(void *hostPtr, HostRegisterEffectFn callback) {
    if (!callback) return HOST_ERR_INTERNAL;
    struct EffectRecord {
        const char *nameKey;
        const char *matchName;
        const char *categoryKey;
        const char *entryPointName;
        int32_t reservedInfo;
    };
    static const EffectRecord effects[] = {
        {"$$$/OV/Effect/Name/Pennaro=Pennaro", "KZMO Pennaro", "$$$/Cordale/FiltersAndEffects/Category/Paint=Paint",
         "FilterMain", 9},
    };
    constexpr uint32_t KIND = 0x65464B54;  // 'eFKT'
    int32_t result = 0;
    try {
        for (const EffectRecord &e : effects) {
            result = callback(hostPtr, e.nameKey, e.matchName, e.categoryKey, e.entryPointName, KIND, 13, 28,
                              e.reservedInfo);
            if (result) break;
        }
    } catch (...) {
        result = HOST_ERR_INTERNAL;
    }
    return result;
}

}  // namespace pennaro
