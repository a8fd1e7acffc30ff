// The string-table service: the effect hands over its table descriptor, the
// host answers lookups with the default text after "=".
#include <cstring>

#include "pennaro/string_table.h"
#include "minihost/detail.h"

namespace minihost {

std::string displayText(const std::string &text) {
    std::string shown;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 5, "#{cr}") == 0) {
            shown += '\n';
            i += 5;
        } else {
            shown += text[i++];
        }
    }
    return shown;
}

int32_t HostCallbacks::openStringTable(void **tableRef, int32_t flags) {
    Host *h = Host::current();
    if (!tableRef) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::OpenStringTable})) return *error;
    if (flags != STRING_TABLE_OPEN_FLAGS) {
        h->monitor().protocolError("string table opened with flags " + std::to_string(flags));
        return HOST_ERR_BAD_PARAM;
    }
    auto *descriptor = static_cast<const StringTableDescriptor *>(*tableRef);
    if (!descriptor || !descriptor->entries || descriptor->entryCount < 1) {
        h->monitor().protocolError("string table opened without a descriptor");
        return HOST_ERR_BAD_PARAM;
    }
    auto state = std::make_unique<StringTableState>();
    state->dictionary = descriptor->dictionary ? descriptor->dictionary : "";
    for (intptr_t i = 0; i < descriptor->entryCount; ++i) {
        const char *key = descriptor->entries[i].key;
        if (!key) break;
        const char *eq = std::strchr(key, '=');
        state->texts.push_back(eq ? eq + 1 : "");
    }
    void *ref = state.get();
    h->impl().tables[ref] = std::move(state);
    *tableRef = ref;
    return 0;
}

const char *HostCallbacks::lookupString(void *tableRef, int32_t message, int32_t reserved1, int32_t reserved2) {
    static const char empty[] = "";
    Host *h = Host::current();
    if (!h) return empty;
    h->monitor().lookedUp(message);
    if (reserved1 || reserved2) h->monitor().protocolError("string lookup with non-zero reserved arguments");
    auto it = h->impl().tables.find(tableRef);
    if (it == h->impl().tables.end()) {
        h->monitor().protocolError("string lookup in a table that is not open");
        return empty;
    }
    if (message < 0 || message >= static_cast<int32_t>(it->second->texts.size())) {
        h->monitor().protocolError("string lookup of message " + std::to_string(message) + " outside the table");
        return empty;
    }
    return it->second->texts[size_t(message)].c_str();
}

void HostCallbacks::closeStringTable(void **tableRef) {
    Host *h = Host::current();
    if (!h || !tableRef) return;
    auto it = h->impl().tables.find(*tableRef);
    // A failed open leaves the effect's descriptor in the reference, and the
    // effect may close that: nothing to do for the host.
    if (it == h->impl().tables.end()) return;
    h->impl().tables.erase(it);
}

int32_t Host::openStringTables() const { return static_cast<int32_t>(impl_->tables.size()); }

}  // namespace minihost
