// The Host object: the records handed to the effect and sending commands.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "minihost/detail.h"

namespace minihost {

namespace {

// Several hosts may drive effects at once, each on its own thread (a video
// host running two instances of the filter). A callback that carries the
// effect reference finds its host by it; one that carries none (utilities,
// suites, handles, preferences) takes the host its thread is serving, and
// only a thread that never served one falls back to the process-wide
// current host. The live hosts by effect reference are kept so that a
// thread's host that was destroyed elsewhere is never used.
std::atomic<Host *> currentHost{nullptr};
thread_local Host *threadHost = nullptr;
std::mutex liveLock;
std::unordered_map<const void *, Host *> liveByRef;

bool isLive(Host *h) {
    std::lock_guard<std::mutex> hold(liveLock);
    for (const auto &[ref, host] : liveByRef)
        if (host == h) return true;
    return false;
}

// The effect's thread request as the process environment holds it during
// one global set-up: set to the host's count (removed for 0, so a variable
// the user's shell left does not speak for this host), and put back as it
// was afterwards. Hosts in one process may set up on several threads at
// once (two filter instances in a video tool): one at a time holds the
// variable, or one would read what the other wrote.
class ThreadRequest {
public:
    explicit ThreadRequest(int32_t threads) : hold_(environmentLock()) {
        if (const char *was = std::getenv(Host::effectThreadsVariable)) previous_ = was;
        if (threads > 0)
            put(std::to_string(threads).c_str());
        else
            put(nullptr);
    }
    ~ThreadRequest() { put(previous_ ? previous_->c_str() : nullptr); }
    ThreadRequest(const ThreadRequest &) = delete;
    ThreadRequest &operator=(const ThreadRequest &) = delete;

private:
    static std::mutex &environmentLock() {
        static std::mutex lock;
        return lock;
    }
    static void put(const char *value) {
#ifdef _WIN32
        _putenv_s(Host::effectThreadsVariable, value ? value : "");
#else
        if (value)
            setenv(Host::effectThreadsVariable, value, 1);
        else
            unsetenv(Host::effectThreadsVariable);
#endif
    }

    std::unique_lock<std::mutex> hold_;
    std::optional<std::string> previous_;
};

// The host's own monitor: lets every call through and keeps nothing.
Monitor quietMonitor;

}  // namespace

std::optional<int32_t> failure(Host *h, ServiceCall call) {
    if (!h) return std::nullopt;
    return h->monitor().failure(call);
}

void protocolError(Host *h, const std::string &what) {
    if (h) h->monitor().protocolError(what);
}

Host::Host() : impl_(std::make_unique<Impl>()), monitor_(&quietMonitor) {
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
    {
        std::lock_guard<std::mutex> hold(liveLock);
        liveByRef[&impl_->effectRefTarget] = this;
    }
    makeCurrent();
}

Host::~Host() {
    {
        std::lock_guard<std::mutex> hold(liveLock);
        liveByRef.erase(&impl_->effectRefTarget);
    }
    Host *self = this;
    currentHost.compare_exchange_strong(self, nullptr);
    if (threadHost == this) threadHost = nullptr;
}

Host *Host::current() {
    Host *mine = threadHost;
    if (mine && isLive(mine)) return mine;
    return currentHost.load();
}

void Host::makeCurrent() {
    threadHost = this;
    currentHost.store(this);
}

void Host::setMonitor(Monitor *monitor) { monitor_ = monitor ? monitor : &quietMonitor; }

int32_t Host::call(FilterMainFn entry, int32_t command, HostWorld *output) {
    makeCurrent();
    if (command == HOST_CMD_PARAMS_SETUP) {
        // A new parameter set-up replaces the list the host knew.
        defs_.clear();
        addIndices_.clear();
        uiRegistered_ = false;
        customUI_ = HostCustomUIInfo{};
    }
    HostParam **array = params(in.currentTime);
    monitor_->commandStarting(in);
    std::optional<ThreadRequest> request;
    if (command == HOST_CMD_GLOBAL_SETUP) request.emplace(threads);
    int32_t result = entry(command, &in, &out, array, output, nullptr);
    request.reset();
    monitor_->commandFinished(in);
    return result;
}

int32_t Host::send(FilterMainFn entry, int32_t command, HostWorld *output) {
    out.message[0] = '\0';
    out.outFlags = 0;
    shown_.clear();
    int32_t result = call(entry, command, output);
    in.globalData = out.globalData;
    in.sequenceData = out.sequenceData;
    if (out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR) {
        out.message[HOST_MESSAGE_LEN - 1] = '\0';
        shown_ = displayText(out.message);
        monitor_->shown(shown_);
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

int32_t HostCallbacks::progress(HostEffectRef ref, int32_t current, int32_t total) {
    Host *h = host(ref);
    return h ? h->monitor().progress(current, total) : 0;
}

Host *HostCallbacks::host(HostEffectRef ref) {
    {
        std::lock_guard<std::mutex> hold(liveLock);
        auto it = liveByRef.find(ref);
        if (it != liveByRef.end()) return it->second;
    }
    Host *h = Host::current();
    if (h) h->monitor().protocolError("callback with a foreign effect reference");
    return h;
}

}  // namespace minihost
