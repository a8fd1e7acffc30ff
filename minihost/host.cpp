// The Host object: the records handed to the effect and sending commands.
#include <atomic>
#include <cstring>

#include "minihost/detail.h"

namespace minihost {

namespace {
std::atomic<Host *> currentHost{nullptr};
}

Host::Host() : impl_(std::make_unique<Impl>()) {
    in.checkoutParam = &HostCallbacks::checkoutParam;
    in.checkinParam = &HostCallbacks::checkinParam;
    in.addParam = &HostCallbacks::addParam;
    in.registerUI = &HostCallbacks::registerUI;
    in.progress = &HostCallbacks::progress;
    in.openStringTable = &HostCallbacks::openStringTable;
    in.lookupString = &HostCallbacks::lookupString;
    in.closeStringTable = &HostCallbacks::closeStringTable;
    in.utils = &HostCallbacks::utilities;
    in.basicSuite = &HostCallbacks::basicSuite;
    in.effectRef = &impl_->effectRefTarget;
    in.currentTime = 0;
    in.timeStep = 100;
    in.localTimeStep = 100;
    in.timeScale = 2400;
    in.downsampleX = {1, 1};
    in.downsampleY = {1, 1};
    in.pixelAspect = {1, 1};
    for (int i = 0; i < 64; ++i) paramPtrs_[i] = &paramStore_[i];
    makeCurrent();
}

Host::~Host() {
    Host *self = this;
    currentHost.compare_exchange_strong(self, nullptr);
}

Host *Host::current() { return currentHost.load(); }
void Host::makeCurrent() { currentHost.store(this); }

void Host::protocolError(const std::string &what) { protocolErrors_.push_back(what); }

int32_t Host::call(FilterMainFn entry, int32_t command, HostWorld *output) {
    makeCurrent();
    if (command == HOST_CMD_PARAMS_SETUP) {
        // A new parameter set-up replaces the list the host knew.
        defs_.clear();
        addIndices_.clear();
        uiRegistered_ = false;
        customUI_ = HostCustomUIInfo{};
    }
    const HostBasicSuite *suites = in.basicSuite;
    if (faults.noBasicSuite) in.basicSuite = nullptr;
    HostParam **array = params(in.currentTime);
    int32_t result = entry(command, &in, &out, array, output, nullptr);
    if (faults.noBasicSuite) in.basicSuite = suites;
    return result;
}

int32_t Host::send(FilterMainFn entry, int32_t command, HostWorld *output) {
    out.message[0] = '\0';
    out.outFlags = 0;
    int32_t result = call(entry, command, output);
    in.globalData = out.globalData;
    in.sequenceData = out.sequenceData;
    if (out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR) {
        out.message[HOST_MESSAGE_LEN - 1] = '\0';
        shown_.push_back(displayText(out.message));
    }
    return result;
}

void Host::setFrame(int32_t frame) { in.currentTime = frame * in.timeStep; }

void Host::setTime(int32_t time, int32_t timeStep, uint32_t timeScale) {
    in.currentTime = time;
    in.timeStep = timeStep;
    in.localTimeStep = timeStep;
    in.timeScale = timeScale;
}

void Host::setLayer(HostWorld *layer) {
    layer_ = layer;
    if (layer) {
        in.width = layer->width;
        in.height = layer->height;
    }
}

void Host::forgetHistory() {
    if (progressStopAt_ > 0) progressStopAt_ -= static_cast<int32_t>(progress_.size());
    progress_.clear();
    checkoutLog_.clear();
    uiUpdates_.clear();
    lookups_.clear();
    shown_.clear();
}

void Host::stopProgressAt(int32_t n, int32_t answer) {
    progressStopAt_ = n > 0 ? static_cast<int32_t>(progress_.size()) + n : 0;
    progressAnswer_ = answer;
}

int32_t HostCallbacks::progress(HostEffectRef ref, int32_t current, int32_t total) {
    Host *h = host(ref);
    if (!h) return 0;
    h->progress_.push_back({current, total});
    if (h->progressStopAt_ > 0 && static_cast<int32_t>(h->progress_.size()) == h->progressStopAt_)
        return h->progressAnswer_;
    return 0;
}

bool Host::suitesBalanced() const {
    for (auto &[name, c] : suiteCounts_)
        if (c.acquired != c.released) return false;
    return true;
}

Host *HostCallbacks::host(HostEffectRef ref) {
    Host *h = Host::current();
    if (!h) return nullptr;
    if (ref != &h->impl().effectRefTarget) h->protocolError("callback with a foreign effect reference");
    return h;
}

// ------------------------------------------------------------- faults

void FaultCountdown::arm(int32_t n, int32_t err, bool sticky) {
    target_ = n > 0 ? n : 0;
    calls_ = 0;
    sticky_ = sticky;
    error = err;
}

void FaultCountdown::disarm() {
    target_ = 0;
    calls_ = 0;
}

bool FaultCountdown::trigger() {
    if (target_ <= 0) return false;
    ++calls_;
    if (calls_ == target_) return true;
    return sticky_ && calls_ > target_;
}

}  // namespace minihost
