#include "cli/render/prefs_file.h"

#include <nlohmann/json.hpp>

#include "catalog/messages.h"
#include "catalog/prefs.h"
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/core/json_reader.h"
#include "minihost/minihost.h"

namespace pennaro_cli {

namespace {

const pennaro::PrefKey *findKey(const std::string &name) {
    for (const pennaro::PrefKey &key : pennaro::PREF_KEYS)
        if (pennaro::messageText(key.message) == name) return &key;
    return nullptr;
}

std::string knownKeys() {
    std::string all;
    for (const pennaro::PrefKey &key : pennaro::PREF_KEYS)
        all += "\n  \"" + std::string(pennaro::messageText(key.message)) + "\" (" +
               (key.type == pennaro::PrefType::Integer ? "integer" : "number") + ")";
    return all;
}

}  // namespace

void loadPrefsText(minihost::PrefStore &store, const std::string &text, const std::string &origin) {
    const nlohmann::json doc = parseJsonInput(text, origin);
    if (!doc.is_object()) throw ToolError(origin + ": expected an object of preference keys and values");
    // Every value is checked before the first one is stored.
    minihost::PrefStore staged = store;
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const std::string &name = it.key();
        const nlohmann::json &v = it.value();
        const pennaro::PrefKey *key = findKey(name);
        auto refuse = [&](const std::string &why) { throw ToolError(origin + ": preference \"" + boundedText(name) + "\" " + why); };
        if (!key) throw ToolError(origin + ": unknown preference \"" + boundedText(name) + "\"; known keys:" + knownKeys());
        if (key->type == pennaro::PrefType::Integer) {
            if (!v.is_number_integer()) refuse("must be an integer");
            if (v.is_number_unsigned() ? v.get<uint64_t>() > uint64_t(INT32_MAX)
                                       : v.get<int64_t>() < INT32_MIN || v.get<int64_t>() > INT32_MAX)
                refuse("does not fit in 32 bits");
            staged.setInt(pennaro::PLUGIN_NAME, name, v.get<int32_t>());
        } else {
            if (!v.is_number()) refuse("must be a number");
            staged.setReal(pennaro::PLUGIN_NAME, name, v.get<double>());
        }
    }
    store = std::move(staged);
}

void loadPrefsFile(minihost::PrefStore &store, const std::string &path) {
    const std::vector<uint8_t> bytes = readFileBytes(path, SETTINGS_FILE_LIMIT);
    loadPrefsText(store, std::string(bytes.begin(), bytes.end()), path);
}

}  // namespace pennaro_cli
