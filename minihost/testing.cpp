// Fault injection, call logs and handle accounting for tests, on the
// monitor and handle store hooks of the host.
#include "minihost/testing.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace minihost {

// ----------------------------------------------------------------- handles

namespace {

constexpr uint8_t FRESH_BYTE = 0xBE;
constexpr uint8_t DEAD_BYTE = 0xDD;
// Poisoned blocks are kept away from the allocator for a while, so a stale
// pointer reads poison instead of somebody else's data.
constexpr uint64_t QUARANTINE_BYTES = 64u << 20;

class AccountingStore : public HandleStore {
public:
    HandleStats stats() {
        std::lock_guard<std::mutex> guard(mutex);
        HandleStats st = counts_;
        st.live = blocks.size();
        for (auto &[h, b] : blocks) {
            st.liveBytes += b->size;
            if (b->locks > 0) ++st.locked;
        }
        return st;
    }

    HandleInfo info(HostHandle h) {
        std::lock_guard<std::mutex> guard(mutex);
        auto it = blocks.find(h);
        if (it == blocks.end()) return {};
        return {true, it->second->size, it->second->locks};
    }

    void disposeAll() {
        std::lock_guard<std::mutex> guard(mutex);
        for (auto &[h, b] : blocks) {
            giveBack(b->data, b->capacity);
            counters_.reservedBytes -= b->capacity;
            delete b;
        }
        blocks.clear();
    }

    std::atomic<bool> strict{false};

protected:
    void *obtain(uint64_t size) override {
        void *p = std::malloc(size ? size : 1);
        if (p) std::memset(p, strict ? FRESH_BYTE : 0, size);
        return p;
    }

    void giveBack(void *data, uint64_t size) override {
        if (!strict) {
            std::free(data);
            return;
        }
        std::memset(data, DEAD_BYTE, size);
        quarantine_.emplace_back(data, size);
        quarantined_ += size;
        while (quarantined_ > QUARANTINE_BYTES && !quarantine_.empty()) {
            quarantined_ -= quarantine_.front().second;
            std::free(quarantine_.front().first);
            quarantine_.pop_front();
        }
    }

    void cutOff(void *tail, uint64_t bytes) override {
        if (strict) std::memset(tail, DEAD_BYTE, bytes);
    }

    void grownInPlace(void *added, uint64_t bytes) override { std::memset(added, strict ? FRESH_BYTE : 0, bytes); }

    bool movesUnlocked() const override { return strict; }
    bool exactCapacity() const override { return strict; }

    void noted(Event event, const char *misuse) override {
        switch (event) {
        case Event::Created: ++counts_.allocations; break;
        case Event::Moved: ++counts_.moves; break;
        case Event::Misused: ++counts_.misuse; break;
        }
        HandleStore::noted(event, misuse);
    }

private:
    HandleStats counts_;
    std::deque<std::pair<void *, uint64_t>> quarantine_;
    uint64_t quarantined_ = 0;
};

// In place before main, so that no handle is ever made by another store.
AccountingStore &store() {
    static AccountingStore *s = [] {
        auto *created = new AccountingStore;  // never destroyed: handles may outlive statics
        useHandleStore(*created);
        return created;
    }();
    return *s;
}
[[maybe_unused]] const bool storeInPlace = (store(), true);

}  // namespace

HandleStats handleStats() { return store().stats(); }
HandleInfo handleInfo(HostHandle h) { return store().info(h); }
void setStrictHandles(bool on) { store().strict = on; }
bool strictHandles() { return store().strict; }
void disposeAllHandles() { store().disposeAll(); }

// ------------------------------------------------------------------ faults

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

// -------------------------------------------------------------------- host

TestHost::TestHost() {
    store();
    setMonitor(this);
}

TestHost::~TestHost() { setMonitor(nullptr); }

std::optional<int32_t> TestHost::failure(const ServiceCall &call) {
    auto countdown = [](FaultCountdown &f) -> std::optional<int32_t> {
        if (f.trigger()) return f.error;
        return std::nullopt;
    };
    auto named = [&](const std::map<std::string, int32_t> &list) -> std::optional<int32_t> {
        auto it = list.find(call.name ? call.name : "");
        if (it == list.end()) return std::nullopt;
        return it->second;
    };
    switch (call.service) {
    case Service::NewHandle: return countdown(faults.newHandle);
    case Service::ResizeHandle: return countdown(faults.resizeHandle);
    case Service::NewImage: return countdown(faults.newImage);
    case Service::DisposeImage: return countdown(faults.disposeImage);
    case Service::CopyImage: return countdown(faults.imageCopy);
    case Service::FillImage: return countdown(faults.imageFill);
    case Service::PixelAddress: return countdown(faults.pixelAddress);
    case Service::AddParam: return countdown(faults.addParam);
    case Service::RegisterUI: return countdown(faults.registerUI);
    case Service::UpdateParamUI: return countdown(faults.updateParamUI);
    case Service::KeyframeCount: return countdown(faults.keyframeCount);
    case Service::CheckoutParam:
        if (faults.checkoutIndex >= 0 && faults.checkoutIndex != call.index) return std::nullopt;
        return countdown(faults.checkout);
    case Service::AcquireSuite: {
        auto error = named(faults.failAcquire);
        if (error) ++suiteCounts_[call.name].failedAcquires;
        return error;
    }
    case Service::ReleaseSuite: return named(faults.failRelease);
    case Service::OpenStringTable:
        if (faults.stringTableOpenError) return faults.stringTableOpenError;
        return std::nullopt;
    case Service::PrefStore:
        if (faults.noPrefStore) return 0;
        if (faults.prefStoreError) return faults.prefStoreError;
        return std::nullopt;
    case Service::ReadPref:
        if (!faults.failPrefReadKey.empty() && faults.failPrefReadKey == call.name) return faults.prefReadError;
        return std::nullopt;
    }
    return std::nullopt;
}

void TestHost::commandStarting(HostInData &data) {
    if (!faults.noBasicSuite) return;
    hiddenSuites_ = data.basicSuite;
    data.basicSuite = nullptr;
}

void TestHost::commandFinished(HostInData &data) {
    if (faults.noBasicSuite) data.basicSuite = hiddenSuites_;
}

int32_t TestHost::progress(int32_t current, int32_t total) {
    progress_.push_back({current, total});
    if (progressStopAt_ > 0 && static_cast<int32_t>(progress_.size()) == progressStopAt_) return progressAnswer_;
    return 0;
}

void TestHost::stopProgressAt(int32_t n, int32_t answer) {
    progressStopAt_ = n > 0 ? static_cast<int32_t>(progress_.size()) + n : 0;
    progressAnswer_ = answer;
}

void TestHost::uiUpdated(int32_t index, const HostParam &param) { uiUpdates_.push_back({index, param.uiFlags, param}); }

int32_t TestHost::uiFlags(int32_t index) const {
    for (auto it = uiUpdates_.rbegin(); it != uiUpdates_.rend(); ++it)
        if (it->index == index) return it->uiFlags;
    return -1;
}

void TestHost::suiteAcquired(const std::string &name, bool granted) {
    SuiteCount &count = suiteCounts_[name];
    ++(granted ? count.acquired : count.failedAcquires);
}

bool TestHost::suitesBalanced() const {
    for (auto &[name, c] : suiteCounts_)
        if (c.acquired != c.released) return false;
    return true;
}

void TestHost::shapeImage(bool &deep, int32_t &rowPadding) {
    if (faults.newImageShallow) deep = false;
    rowPadding = faults.newImageRowPadding;
}

void TestHost::forgetHistory() {
    if (progressStopAt_ > 0) progressStopAt_ -= static_cast<int32_t>(progress_.size());
    progress_.clear();
    checkouts_.clear();
    uiUpdates_.clear();
    lookups_.clear();
    shown_.clear();
    prefReads_.clear();
}

}  // namespace minihost
