// Relocatable memory blocks with exact sizes, counted locks and accounting.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "minihost/detail.h"
#include "minihost/minihost.h"

namespace minihost {

namespace {

constexpr uint8_t FRESH_BYTE = 0xBE;
constexpr uint8_t DEAD_BYTE = 0xDD;
// Poisoned blocks are kept away from the allocator for a while, so a stale
// pointer reads poison instead of somebody else's data.
constexpr uint64_t QUARANTINE_BYTES = 64u << 20;

// The master pointer is the first member: a HostHandle points at it.
struct Block {
    void *data = nullptr;
    uint64_t size = 0;
    int32_t locks = 0;
};

struct Store {
    std::mutex mutex;
    std::unordered_map<HostHandle, Block *> blocks;
    HandleStats stats;
    bool strict = false;
    uint64_t sizeLimit = uint64_t(1) << 30;
    std::deque<std::pair<void *, uint64_t>> quarantine;
    uint64_t quarantined = 0;
};

Store &store() {
    static Store *s = new Store;  // never destroyed: handles may outlive statics
    return *s;
}

void *allocate(uint64_t size) {
    void *p = std::malloc(size ? size : 1);
    return p;
}

// Frees a block's memory; in strict mode poisons it and keeps it away from
// reuse for a while.
void release(Store &s, void *data, uint64_t size) {
    if (!data) return;
    if (!s.strict) {
        std::free(data);
        return;
    }
    std::memset(data, DEAD_BYTE, size);
    s.quarantine.emplace_back(data, size);
    s.quarantined += size;
    while (s.quarantined > QUARANTINE_BYTES && !s.quarantine.empty()) {
        s.quarantined -= s.quarantine.front().second;
        std::free(s.quarantine.front().first);
        s.quarantine.pop_front();
    }
}

Block *find(Store &s, HostHandle h) {
    auto it = s.blocks.find(h);
    return it == s.blocks.end() ? nullptr : it->second;
}

void misuse(Store &s, const std::string &what) {
    ++s.stats.misuse;
    if (Host *host = Host::current()) host->protocolError(what);
}

// Moves a block to a fresh address, keeping `keep` bytes of content.
bool relocate(Store &s, Block &b, uint64_t newSize) {
    void *fresh = allocate(newSize);
    if (!fresh) return false;
    uint64_t keep = b.size < newSize ? b.size : newSize;
    if (keep) std::memcpy(fresh, b.data, keep);
    if (newSize > keep) std::memset(static_cast<uint8_t *>(fresh) + keep, s.strict ? FRESH_BYTE : 0, newSize - keep);
    release(s, b.data, b.size);
    b.data = fresh;
    ++s.stats.moves;
    return true;
}

}  // namespace

HandleStats handleStats() {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    HandleStats st = s.stats;
    st.live = s.blocks.size();
    st.liveBytes = 0;
    st.locked = 0;
    for (auto &[h, b] : s.blocks) {
        st.liveBytes += b->size;
        if (b->locks > 0) ++st.locked;
    }
    return st;
}

HandleInfo handleInfo(HostHandle h) {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    HandleInfo info;
    if (Block *b = find(s, h)) {
        info.live = true;
        info.size = b->size;
        info.lockCount = b->locks;
    }
    return info;
}

void setStrictHandles(bool on) {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.strict = on;
}

bool strictHandles() {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.strict;
}

void setHandleSizeLimit(uint64_t bytes) {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sizeLimit = bytes;
}

uint64_t handleSizeLimit() {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.sizeLimit;
}

HostHandle newHandle(uint64_t size) {
    if (Host *host = Host::current()) {
        if (host->faults.newHandle.trigger()) return nullptr;
    }
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (size > s.sizeLimit) return nullptr;
    auto *b = new Block;
    b->data = allocate(size);
    if (!b->data) {
        delete b;
        return nullptr;
    }
    b->size = size;
    std::memset(b->data, s.strict ? FRESH_BYTE : 0, size);
    auto h = reinterpret_cast<HostHandle>(&b->data);
    s.blocks[h] = b;
    ++s.stats.allocations;
    return h;
}

void *lockHandle(HostHandle h) {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    Block *b = find(s, h);
    if (!b) {
        misuse(s, "lock of an unknown handle");
        return nullptr;
    }
    if (s.strict && b->locks == 0) relocate(s, *b, b->size);
    ++b->locks;
    return b->data;
}

void unlockHandle(HostHandle h) {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    Block *b = find(s, h);
    if (!b) {
        misuse(s, "unlock of an unknown handle");
        return;
    }
    if (b->locks == 0) {
        misuse(s, "unlock of a handle that is not locked");
        return;
    }
    --b->locks;
}

void disposeHandle(HostHandle h) {
    if (!h) return;
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    Block *b = find(s, h);
    if (!b) {
        misuse(s, "dispose of an unknown or already disposed handle");
        return;
    }
    s.blocks.erase(h);
    release(s, b->data, b->size);
    b->data = nullptr;
    delete b;
}

uint64_t getHandleSize(HostHandle h) {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    Block *b = find(s, h);
    if (!b) {
        misuse(s, "size of an unknown handle");
        return 0;
    }
    return b->size;
}

int32_t resizeHandle(uint64_t newSize, HostHandle *h) {
    if (!h) return HOST_ERR_INVALID_CALLBACK;
    if (Host *host = Host::current()) {
        if (host->faults.resizeHandle.trigger()) return host->faults.resizeHandle.error;
    }
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    Block *b = find(s, *h);
    if (!b) {
        misuse(s, "resize of an unknown handle");
        return HOST_ERR_INVALID_CALLBACK;
    }
    if (newSize > s.sizeLimit) return HOST_ERR_OUT_OF_MEMORY;
    // Growing always moves the block; strict mode moves every unlocked one.
    if ((s.strict && b->locks == 0) || newSize > b->size) {
        if (!relocate(s, *b, newSize)) return HOST_ERR_OUT_OF_MEMORY;
    } else if (s.strict && newSize < b->size) {
        // Shrinking in place: the cut-off tail is dead memory.
        std::memset(static_cast<uint8_t *>(b->data) + newSize, DEAD_BYTE, b->size - newSize);
    }
    b->size = newSize;
    return 0;
}

void disposeAllHandles() {
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto &[h, b] : s.blocks) {
        release(s, b->data, b->size);
        delete b;
    }
    s.blocks.clear();
}

}  // namespace minihost
