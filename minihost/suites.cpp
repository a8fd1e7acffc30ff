// The basic suite table and the five suites it hands out.
#include <cstring>

#include "minihost/detail.h"

namespace minihost {

int32_t HostCallbacks::unusedEntry() {
    protocolError(Host::current(), "call of a suite entry this host does not offer");
    return HOST_ERR_INVALID_CALLBACK;
}

const HostBasicSuite HostCallbacks::basicSuite = {&HostCallbacks::acquireSuite, &HostCallbacks::releaseSuite};

const HostParamUtilsSuite HostCallbacks::paramUtilsSuite = {
    &HostCallbacks::updateParamUI, &HostCallbacks::unusedEntry, &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,   &HostCallbacks::unusedEntry, &HostCallbacks::getKeyframeCount,
};

const HostWorldTransformSuite HostCallbacks::worldTransformSuite = {
    &HostCallbacks::unusedEntry, &HostCallbacks::unusedEntry, &HostCallbacks::unusedEntry, &HostCallbacks::copyWorld};

const HostFillMatteSuite HostCallbacks::fillMatteSuite = {&HostCallbacks::fillWorld};

const HostWorldSuite HostCallbacks::worldSuite = {&HostCallbacks::newWorld};

const HostPersistentDataSuite HostCallbacks::persistentDataSuite = {
    &HostCallbacks::getApplicationStore,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::unusedEntry,
    &HostCallbacks::getPrefInt,
    &HostCallbacks::getPrefReal,
};

namespace {

struct SuiteEntry {
    const char *name;
    int32_t version;
    const void *table;
};

const SuiteEntry *findSuite(const char *name, int32_t version) {
    static const SuiteEntry suites[] = {
        {HOST_PARAM_UTILS_SUITE, HOST_PARAM_UTILS_SUITE_VERSION, &HostCallbacks::paramUtilsSuite},
        {HOST_WORLD_TRANSFORM_SUITE, HOST_WORLD_TRANSFORM_SUITE_VERSION, &HostCallbacks::worldTransformSuite},
        {HOST_FILL_MATTE_SUITE, HOST_FILL_MATTE_SUITE_VERSION, &HostCallbacks::fillMatteSuite},
        {HOST_WORLD_SUITE, HOST_WORLD_SUITE_VERSION, &HostCallbacks::worldSuite},
        {HOST_PERSISTENT_DATA_SUITE, HOST_PERSISTENT_DATA_SUITE_VERSION, &HostCallbacks::persistentDataSuite},
    };
    for (const auto &s : suites)
        if (name && std::strcmp(s.name, name) == 0 && s.version == version) return &s;
    return nullptr;
}

}  // namespace

int32_t HostCallbacks::acquireSuite(const char *name, int32_t version, const void **suite) {
    Host *h = Host::current();
    if (!suite) return HOST_ERR_INVALID_CALLBACK;
    *suite = nullptr;
    if (!h) return HOST_ERR_INTERNAL;
    std::string key = name ? name : "";
    if (auto error = failure(h, {Service::AcquireSuite, 0, key.c_str()})) return *error;
    const SuiteEntry *entry = findSuite(name, version);
    h->monitor().suiteAcquired(key, entry != nullptr);
    if (!entry) return HOST_ERR_BAD_PARAM;
    *suite = entry->table;
    ++h->impl().suitesHeld[key];
    return 0;
}

int32_t HostCallbacks::releaseSuite(const char *name, int32_t version) {
    Host *h = Host::current();
    if (!h) return HOST_ERR_INTERNAL;
    std::string key = name ? name : "";
    if (auto error = failure(h, {Service::ReleaseSuite, 0, key.c_str()})) return *error;
    if (!findSuite(name, version)) {
        h->monitor().protocolError("release of an unknown suite: " + key);
        return HOST_ERR_BAD_PARAM;
    }
    int32_t &held = h->impl().suitesHeld[key];
    if (held <= 0) {
        h->monitor().protocolError("release of a suite that is not acquired: " + key);
        return HOST_ERR_BAD_PARAM;
    }
    --held;
    h->monitor().suiteReleased(key);
    return 0;
}

}  // namespace minihost
