// Parameters: definitions added at set-up, values as timelines, check-out
// and check-in, keyframe counts and control updates.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "minihost/detail.h"

namespace minihost {

int32_t toFixed(double value) {
    double scaled = value * 65536.0;
    double r = scaled < 0 ? -std::floor(-scaled + 0.5) : std::floor(scaled + 0.5);
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(r);
}

double Timeline::valueAt(int32_t time, bool interpolate) const {
    if (keys.empty()) return constant;
    if (time <= keys.front().time) return keys.front().value;
    if (time >= keys.back().time) return keys.back().value;
    for (size_t i = 1; i < keys.size(); ++i) {
        const Keyframe &a = keys[i - 1], &b = keys[i];
        if (time < b.time) {
            if (!interpolate) return a.value;
            double t = double(int64_t(time) - a.time) / double(int64_t(b.time) - a.time);
            return a.value + (b.value - a.value) * t;
        }
    }
    return keys.back().value;
}

const HostParam *Host::definitionFor(int32_t index) const {
    // Definitions arrive in index order starting at 1; index 0 is the layer.
    if (index < 1 || index > static_cast<int32_t>(defs_.size())) return nullptr;
    return &defs_[size_t(index - 1)];
}

void Host::setParam(int32_t index, double value) {
    if (index < 0 || index >= 64) throw std::runtime_error("parameter index out of range");
    timelines_[index] = Timeline{value, {}};
}

void Host::setKeyframes(int32_t index, std::vector<Keyframe> keys) {
    if (index < 0 || index >= 64) throw std::runtime_error("parameter index out of range");
    if (keys.empty()) throw std::runtime_error("a keyframed parameter needs at least one key");
    std::stable_sort(keys.begin(), keys.end(), [](const Keyframe &a, const Keyframe &b) { return a.time < b.time; });
    for (size_t i = 1; i < keys.size(); ++i)
        if (keys[i].time == keys[i - 1].time) throw std::runtime_error("two keyframes at the same time");
    Timeline t;
    t.constant = keys.front().value;
    t.keys = std::move(keys);
    timelines_[index] = std::move(t);
}

int32_t Host::keyframeCount(int32_t index) const {
    auto it = timelines_.find(index);
    if (it == timelines_.end() || it->second.keys.empty()) return -1;
    return static_cast<int32_t>(it->second.keys.size());
}

int32_t Host::paramValueAt(int32_t index, int32_t time) const {
    HostParam p{};
    fillParam(index, time, p);
    return p.u.popup.value;  // the first word of every value area
}

void Host::fillParam(int32_t index, int32_t time, HostParam &p) const {
    std::memset(&p, 0, sizeof p);
    if (index == 0) {
        p.paramType = HOST_PARAM_TYPE_LAYER;
        if (layer_) p.u.layer.world = *layer_;
        return;
    }
    const HostParam *def = definitionFor(index);
    if (def) p = *def;
    auto it = timelines_.find(index);
    bool slider = def && def->paramType == HOST_PARAM_TYPE_FIXED_SLIDER;
    if (it == timelines_.end()) return;  // the definition's initial value
    double v = it->second.valueAt(time, slider);
    int32_t word = slider ? toFixed(v) : static_cast<int32_t>(std::llround(v));
    std::memcpy(&p.u, &word, sizeof word);
}

HostParam **Host::params(int32_t time) {
    for (int32_t i = 0; i < 64; ++i) {
        paramPtrs_[i] = &paramStore_[i];
        fillParam(i, time, paramStore_[i]);
    }
    return paramPtrs_;
}

// ------------------------------------------------------------ callbacks

int32_t HostCallbacks::checkoutParam(HostEffectRef ref, int32_t index, int32_t time, int32_t timeStep,
                                     uint32_t timeScale, HostParam *out) {
    Host *h = host(ref);
    if (!out) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    h->monitor().checkedOut({index, time, timeStep, timeScale});
    if (auto error = failure(h, {Service::CheckoutParam, index})) return *error;
    // Before parameter set-up any index of the array may be checked out (in
    // process tests); afterwards only the layer and the defined ones.
    int32_t limit = h->defs_.empty() ? 63 : static_cast<int32_t>(h->defs_.size());
    if (index < 0 || index > limit) {
        h->monitor().protocolError("check-out of parameter " + std::to_string(index) + " that does not exist");
        return HOST_ERR_BAD_PARAM;
    }
    h->fillParam(index, time, *out);
    ++h->outstanding_;
    return 0;
}

int32_t HostCallbacks::checkinParam(HostEffectRef ref, HostParam *param) {
    Host *h = host(ref);
    if (!param) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (h->outstanding_ <= 0) {
        h->monitor().protocolError("check-in without a check-out");
        return HOST_ERR_BAD_PARAM;
    }
    --h->outstanding_;
    return 0;
}

int32_t HostCallbacks::addParam(HostEffectRef ref, int32_t index, HostParam *def) {
    Host *h = host(ref);
    if (!def) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::AddParam})) return *error;
    h->defs_.push_back(*def);
    h->addIndices_.push_back(index);
    return 0;
}

int32_t HostCallbacks::registerUI(HostEffectRef ref, HostCustomUIInfo *info) {
    Host *h = host(ref);
    if (!info) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::RegisterUI})) return *error;
    h->uiRegistered_ = true;
    h->customUI_ = *info;
    return 0;
}

int32_t HostCallbacks::updateParamUI(HostEffectRef ref, int32_t index, const HostParam *param) {
    Host *h = host(ref);
    if (!param) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::UpdateParamUI})) return *error;
    h->monitor().uiUpdated(index, *param);
    return 0;
}

int32_t HostCallbacks::getKeyframeCount(HostEffectRef ref, int32_t index, int32_t *count) {
    Host *h = host(ref);
    if (!count) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::KeyframeCount})) return *error;
    *count = h->keyframeCount(index);
    return 0;
}

}  // namespace minihost
