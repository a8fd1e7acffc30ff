// The application preference store and the persistent data suite.
#include <cmath>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "minihost/detail.h"

namespace minihost {

const char *PrefStore::section() { return "Pennaro"; }

const std::vector<std::string> &PrefStore::integerKeys() {
    static const std::vector<std::string> keys = {
        "Draw brush sprite",
        "Preview quality",
        "Use high resolution stylus coordinates",
        "Show toolbar in composition window",
        "Onion skin - Frames backward",
        "Onion skin - Frames forward",
    };
    return keys;
}

const std::vector<std::string> &PrefStore::realKeys() {
    static const std::vector<std::string> keys = {
        "Onion skin - Opacity",
        "Onion skin - Backward color - Red",
        "Onion skin - Backward color - Green",
        "Onion skin - Backward color - Blue",
        "Onion skin - Forward color - Red",
        "Onion skin - Forward color - Green",
        "Onion skin - Forward color - Blue",
    };
    return keys;
}

namespace {

bool contains(const std::vector<std::string> &list, const std::string &key) {
    for (const auto &k : list)
        if (k == key) return true;
    return false;
}

std::string knownKeys() {
    std::string all;
    for (const auto &k : PrefStore::integerKeys()) all += "\n  \"" + k + "\" (integer)";
    for (const auto &k : PrefStore::realKeys()) all += "\n  \"" + k + "\" (number)";
    return all;
}

}  // namespace

void PrefStore::setInt(const std::string &key, int64_t value) {
    if (!contains(integerKeys(), key)) {
        if (contains(realKeys(), key))
            throw std::runtime_error("preference \"" + key + "\" holds a number, not an integer");
        throw std::runtime_error("unknown preference \"" + key + "\"; known keys:" + knownKeys());
    }
    if (value < INT32_MIN || value > INT32_MAX)
        throw std::runtime_error("preference \"" + key + "\": " + std::to_string(value) +
                                 " does not fit in 32 bits");
    values_[{section(), key}] = Value{double(value), true};
}

void PrefStore::setReal(const std::string &key, double value) {
    if (!contains(realKeys(), key)) {
        if (contains(integerKeys(), key))
            throw std::runtime_error("preference \"" + key + "\" holds an integer, not a number");
        throw std::runtime_error("unknown preference \"" + key + "\"; known keys:" + knownKeys());
    }
    if (!std::isfinite(value)) throw std::runtime_error("preference \"" + key + "\" must be a finite number");
    values_[{section(), key}] = Value{value, false};
}

void PrefStore::setRaw(const std::string &sec, const std::string &key, double value, bool isInteger) {
    values_[{sec, key}] = Value{value, isInteger};
}

void PrefStore::clear() { values_.clear(); }

void PrefStore::loadJsonText(const std::string &text, const std::string &origin) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error &e) {
        throw std::runtime_error(origin + ": not valid JSON: " + e.what());
    }
    if (!doc.is_object())
        throw std::runtime_error(origin + ": expected an object of preference keys and values");
    PrefStore staged = *this;
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const std::string &key = it.key();
        const auto &v = it.value();
        try {
            if (contains(integerKeys(), key)) {
                if (!v.is_number_integer())
                    throw std::runtime_error("preference \"" + key + "\" must be an integer");
                if (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(INT32_MAX))
                    throw std::runtime_error("preference \"" + key + "\" does not fit in 32 bits");
                staged.setInt(key, v.get<int64_t>());
            } else if (contains(realKeys(), key)) {
                if (!v.is_number()) throw std::runtime_error("preference \"" + key + "\" must be a number");
                staged.setReal(key, v.get<double>());
            } else {
                throw std::runtime_error("unknown preference \"" + key + "\"; known keys:" + knownKeys());
            }
        } catch (const std::runtime_error &e) {
            throw std::runtime_error(origin + ": " + e.what());
        }
    }
    values_ = std::move(staged.values_);
}

void PrefStore::loadJsonFile(const std::string &path) {
    std::ifstream file(path);
    if (!file) throw std::runtime_error("cannot read preferences file " + path + ": " + std::strerror(errno));
    std::stringstream text;
    text << file.rdbuf();
    loadJsonText(text.str(), path);
}

const PrefStore::Value *PrefStore::find(const std::string &sec, const std::string &key) const {
    auto it = values_.find({sec, key});
    return it == values_.end() ? nullptr : &it->second;
}

std::map<std::string, PrefStore::Value> PrefStore::entries() const {
    std::map<std::string, Value> out;
    for (const auto &[k, v] : values_)
        if (k.first == section()) out[k.second] = v;
    return out;
}

// ------------------------------------------------------------ the suite

int32_t HostCallbacks::getApplicationStore(HostPrefStore *store) {
    Host *h = Host::current();
    if (!store) return HOST_ERR_INVALID_CALLBACK;
    *store = nullptr;
    if (!h) return HOST_ERR_INTERNAL;
    if (h->faults.noPrefStore) return 0;
    *store = &h->impl().storeTarget;
    return h->faults.prefStoreError;
}

namespace {

// The store a reference stands for, and the read failures a test asked for.
Host *storeHost(HostPrefStore store, const char *section, const char *key, int32_t &error) {
    Host *h = Host::current();
    error = 0;
    if (!h) {
        error = HOST_ERR_INTERNAL;
        return nullptr;
    }
    if (store != &h->impl().storeTarget) {
        h->protocolError("preference read from an unknown store");
        error = HOST_ERR_BAD_PARAM;
        return nullptr;
    }
    if (!section || !key) {
        error = HOST_ERR_BAD_PARAM;
        return nullptr;
    }
    h->prefs.reads.push_back(key);
    if (!h->faults.failPrefReadKey.empty() && h->faults.failPrefReadKey == key) {
        error = h->faults.prefReadError;
        return nullptr;
    }
    return h;
}

}  // namespace

int32_t HostCallbacks::getPrefInt(HostPrefStore store, const char *section, const char *key, int32_t dephault,
                                  int32_t *out) {
    if (!out) return HOST_ERR_INVALID_CALLBACK;
    int32_t error = 0;
    Host *h = storeHost(store, section, key, error);
    if (!h) return error;
    const PrefStore::Value *v = h->prefs.find(section, key);
    if (!v) {
        *out = dephault;
        return 0;
    }
    if (!v->isInteger) return HOST_ERR_BAD_PARAM;  // the store holds a real under this key
    *out = static_cast<int32_t>(v->value);
    return 0;
}

int32_t HostCallbacks::getPrefReal(HostPrefStore store, const char *section, const char *key, double dephault,
                                   double *out) {
    if (!out) return HOST_ERR_INVALID_CALLBACK;
    int32_t error = 0;
    Host *h = storeHost(store, section, key, error);
    if (!h) return error;
    const PrefStore::Value *v = h->prefs.find(section, key);
    *out = v ? v->value : dephault;
    return 0;
}

}  // namespace minihost
