// The basic suite table and the five suites it hands out.
#include <cstring>

#include "minihost/detail.h"

namespace minihost {

int32_t HostCallbacks::unusedEntry() {
    if (Host *h = Host::current()) h->protocolError("call of a suite entry this host does not offer");
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
    auto &count = h->suiteCounts_[key];
    auto fault = h->faults.failAcquire.find(key);
    if (fault != h->faults.failAcquire.end()) {
        ++count.failedAcquires;
        return fault->second;
    }
    const SuiteEntry *entry = findSuite(name, version);
    if (!entry) {
        ++count.failedAcquires;
        return HOST_ERR_BAD_PARAM;
    }
    *suite = entry->table;
    ++count.acquired;
    return 0;
}

int32_t HostCallbacks::releaseSuite(const char *name, int32_t version) {
    Host *h = Host::current();
    if (!h) return HOST_ERR_INTERNAL;
    std::string key = name ? name : "";
    auto fault = h->faults.failRelease.find(key);
    if (fault != h->faults.failRelease.end()) return fault->second;
    if (!findSuite(name, version)) {
        h->protocolError("release of an unknown suite: " + key);
        return HOST_ERR_BAD_PARAM;
    }
    auto &count = h->suiteCounts_[key];
    if (count.released >= count.acquired) {
        h->protocolError("release of a suite that is not acquired: " + key);
        return HOST_ERR_BAD_PARAM;
    }
    ++count.released;
    return 0;
}

}  // namespace minihost
