// Feeds arbitrary text to the readers of --params keyframes and --prefs
// files. Both either take it or refuse it with a ToolError; a refused
// preferences file leaves the store as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "catalog/messages.h"
#include "cli/core/errors.h"
#include "cli/render/prefs_file.h"
#include "cli/render/options.h"
#include "minihost/minihost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace pennaro_cli;
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        ParamSettings settings = defaultParamSettings();
        loadParamKeyframes(settings, text, "params");
    } catch (const ToolError &) {
    }
    minihost::PrefStore store;
    store.setInt(pennaro::PLUGIN_NAME, "marker", 7);
    try {
        loadPrefsText(store, text, "prefs");
    } catch (const ToolError &) {
        const minihost::PrefStore::Value *kept = store.find(pennaro::PLUGIN_NAME, "marker");
        if (!kept || kept->value != 7) {
            std::fprintf(stderr, "json options fuzzer: a refused preferences file changed the store\n");
            std::abort();
        }
    }
    return 0;
}
