// User preferences from the host's application preference store, read once
// at global set-up. The effect never writes them.
#include "catalog/prefs.h"
#include "host/commands.h"
#include "host/message_lookup.h"
#include "host/suites.h"
#include "pennaro/suite_persistent_data.h"

namespace pennaro {

PaintPrefs readPrefs(const HostInData *in, HostOutData *out) {
    PaintPrefs prefs = defaultPrefs();
    const void *table = nullptr;
    if (AcquireSuite(in, out, HOST_PERSISTENT_DATA_SUITE, HOST_PERSISTENT_DATA_SUITE_VERSION, nullptr, &table))
        return prefs;
    const auto *suite = static_cast<const HostPersistentDataSuite *>(table);

    HostPrefStore store = nullptr;
    int32_t status = suite->getApplicationStore(&store);
    if (!store) status = HOST_ERR_DATA_MISSING;

    // Each read falls back to the default; the first failure stops them.
    for (int32_t key = 0; key < PREF_KEY_COUNT && status == 0; ++key) {
        const char *name = lookupMessage(in, PREF_KEYS[key].message);
        if (PREF_KEYS[key].type == PrefType::Integer) {
            int32_t value = static_cast<int32_t>(prefValue(prefs, key));
            status = suite->getInt(store, PLUGIN_NAME, name, value, &value);
            setPrefValue(prefs, key, value);
        } else {
            double value = prefValue(prefs, key);
            status = suite->getReal(store, PLUGIN_NAME, name, value, &value);
            if (!status) setPrefValue(prefs, key, value);
        }
    }

    clampPrefs(prefs);
    // A failed read may have left some fields set: none of them counts.
    if (status) prefs = defaultPrefs();

    ReleaseSuite(in, out, HOST_PERSISTENT_DATA_SUITE, HOST_PERSISTENT_DATA_SUITE_VERSION, nullptr);
    return prefs;
}

}  // namespace pennaro
