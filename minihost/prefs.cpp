// The application preference store and the persistent data suite.
#include "minihost/detail.h"

namespace minihost {

void PrefStore::setInt(const std::string &section, const std::string &key, int32_t value) {
    values_[{section, key}] = Value{double(value), true};
}

void PrefStore::setReal(const std::string &section, const std::string &key, double value) {
    values_[{section, key}] = Value{value, false};
}

const PrefStore::Value *PrefStore::find(const std::string &section, const std::string &key) const {
    auto it = values_.find({section, key});
    return it == values_.end() ? nullptr : &it->second;
}

// One entry per key, so that an effect reading its preferences again and
// again does not grow the list.
void Host::answered(PrefAnswer answer) {
    for (PrefAnswer &known : prefAnswers_) {
        if (known.section == answer.section && known.key == answer.key) {
            known = std::move(answer);
            return;
        }
    }
    prefAnswers_.push_back(std::move(answer));
}

// ------------------------------------------------------------ the suite

int32_t HostCallbacks::getApplicationStore(HostPrefStore *store) {
    Host *h = Host::current();
    if (!store) return HOST_ERR_INVALID_CALLBACK;
    *store = nullptr;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::PrefStore})) {
        // A host may hand out its store and still report an error.
        if (*error) *store = &h->impl().storeTarget;
        return *error;
    }
    *store = &h->impl().storeTarget;
    return 0;
}

namespace {

// The host a store reference belongs to; null with `error` set when the
// read cannot be answered.
Host *storeHost(HostPrefStore store, const char *section, const char *key, int32_t &error) {
    Host *h = Host::current();
    error = 0;
    if (!h) {
        error = HOST_ERR_INTERNAL;
        return nullptr;
    }
    if (store != &h->impl().storeTarget) {
        h->monitor().protocolError("preference read from an unknown store");
        error = HOST_ERR_BAD_PARAM;
        return nullptr;
    }
    if (!section || !key) {
        error = HOST_ERR_BAD_PARAM;
        return nullptr;
    }
    h->monitor().prefRead(section, key);
    if (auto refused = failure(h, {Service::ReadPref, 0, key})) {
        error = *refused;
        return nullptr;
    }
    return h;
}

}  // namespace

int32_t HostCallbacks::getPrefInt(HostPrefStore store, const char *section, const char *key, int32_t defaultValue,
                                  int32_t *out) {
    if (!out) return HOST_ERR_INVALID_CALLBACK;
    int32_t error = 0;
    Host *h = storeHost(store, section, key, error);
    if (!h) return error;
    const PrefStore::Value *v = h->prefs.find(section, key);
    PrefAnswer answer{section, key, true, double(defaultValue), double(defaultValue), v != nullptr, 0};
    if (v && !v->isInteger) {
        answer.error = HOST_ERR_BAD_PARAM;  // the store holds a real under this key
    } else if (v) {
        answer.value = v->value;
        *out = static_cast<int32_t>(v->value);
    } else {
        *out = defaultValue;
    }
    int32_t result = answer.error;
    answered(*h, std::move(answer));
    return result;
}

int32_t HostCallbacks::getPrefReal(HostPrefStore store, const char *section, const char *key, double defaultValue,
                                   double *out) {
    if (!out) return HOST_ERR_INVALID_CALLBACK;
    int32_t error = 0;
    Host *h = storeHost(store, section, key, error);
    if (!h) return error;
    const PrefStore::Value *v = h->prefs.find(section, key);
    *out = v ? v->value : defaultValue;
    answered(*h, PrefAnswer{section, key, false, defaultValue, *out, v != nullptr, 0});
    return 0;
}

}  // namespace minihost
