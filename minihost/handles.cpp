// Relocatable memory blocks with exact sizes, counted locks and a budget.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "minihost/detail.h"

namespace minihost {

namespace {

std::atomic<HandleStore *> installed{nullptr};

}  // namespace

HandleStore &handleStore() {
    HandleStore *store = installed.load();
    if (store) return *store;
    // Never destroyed: handles may outlive statics.
    static HandleStore *own = new HandleStore;
    HandleStore *expected = nullptr;
    installed.compare_exchange_strong(expected, own);
    return *installed.load();
}

void useHandleStore(HandleStore &store) {
    HandleStore *previous = installed.load();
    if (previous == &store) return;
    if (previous && previous->liveHandles() != 0)
        throw std::logic_error("the handle store cannot change while handles are alive");
    installed.store(&store);
}

void *HandleStore::obtain(uint64_t size) { return std::calloc(size ? size : 1, 1); }

void HandleStore::giveBack(void *data, uint64_t) { std::free(data); }

void HandleStore::grownInPlace(void *added, uint64_t bytes) { std::memset(added, 0, bytes); }

void HandleStore::noted(Event event, const char *misuse) {
    if (event == Event::Misused) protocolError(Host::current(), misuse);
}

HandleStore::Block *HandleStore::find(HostHandle h, const char *misuse) {
    auto it = blocks.find(h);
    if (it != blocks.end()) return it->second;
    noted(Event::Misused, misuse);
    return nullptr;
}

bool HandleStore::affordable(uint64_t more) {
    if (more <= budget_ && counters_.reservedBytes <= budget_ - more) return true;
    ++counters_.refusals;
    return false;
}

void HandleStore::reserved(uint64_t more) {
    counters_.reservedBytes += more;
    if (counters_.reservedBytes > counters_.peakReservedBytes) counters_.peakReservedBytes = counters_.reservedBytes;
}

// Moves a block to a fresh place holding `capacity` bytes, keeping what
// fits of its content. The caller has checked the budget.
bool HandleStore::relocate(Block &b, uint64_t newSize, uint64_t capacity) {
    void *fresh = obtain(capacity);
    if (!fresh) return false;
    const uint64_t keep = b.size < newSize ? b.size : newSize;
    if (keep) std::memcpy(fresh, b.data, keep);
    giveBack(b.data, b.capacity);
    counters_.reservedBytes -= b.capacity;
    reserved(capacity);
    b.data = fresh;
    b.capacity = capacity;
    ++counters_.moves;
    counters_.bytesCopied += keep;
    noted(Event::Moved, nullptr);
    return true;
}

HostHandle HandleStore::create(uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    if (size > sizeLimit_) {
        ++counters_.refusals;
        return nullptr;
    }
    if (!affordable(size)) return nullptr;
    void *data = obtain(size);
    if (!data) return nullptr;
    auto *b = new Block{data, size, 0, size};
    auto h = reinterpret_cast<HostHandle>(&b->data);
    blocks[h] = b;
    reserved(size);
    noted(Event::Created, nullptr);
    return h;
}

void *HandleStore::lock(HostHandle h) {
    std::lock_guard<std::mutex> guard(mutex);
    Block *b = find(h, "lock of an unknown handle");
    if (!b) return nullptr;
    // A move to a place of the same size is within any budget the block
    // already fits.
    if (b->locks == 0 && movesUnlocked()) relocate(*b, b->size, b->capacity);
    ++b->locks;
    return b->data;
}

void HandleStore::unlock(HostHandle h) {
    std::lock_guard<std::mutex> guard(mutex);
    Block *b = find(h, "unlock of an unknown handle");
    if (!b) return;
    if (b->locks == 0) {
        noted(Event::Misused, "unlock of a handle that is not locked");
        return;
    }
    --b->locks;
}

void HandleStore::dispose(HostHandle h) {
    if (!h) return;
    std::lock_guard<std::mutex> guard(mutex);
    Block *b = find(h, "dispose of an unknown or already disposed handle");
    if (!b) return;
    blocks.erase(h);
    giveBack(b->data, b->capacity);
    counters_.reservedBytes -= b->capacity;
    delete b;
}

uint64_t HandleStore::size(HostHandle h) {
    std::lock_guard<std::mutex> guard(mutex);
    Block *b = find(h, "size of an unknown handle");
    return b ? b->size : 0;
}

int32_t HandleStore::resize(uint64_t newSize, HostHandle *h) {
    if (!h) return HOST_ERR_INVALID_CALLBACK;
    std::lock_guard<std::mutex> guard(mutex);
    Block *b = find(*h, "resize of an unknown handle");
    if (!b) return HOST_ERR_INVALID_CALLBACK;
    if (newSize > sizeLimit_) {
        ++counters_.refusals;
        return HOST_ERR_OUT_OF_MEMORY;
    }
    if (newSize > b->capacity || (b->locks == 0 && movesUnlocked())) {
        // Room to spare makes an append loop cost amortized constant time
        // per byte; near the budget it shrinks to what is left.
        uint64_t capacity = newSize;
        if (newSize > b->capacity && !exactCapacity()) {
            const uint64_t roomy = b->capacity + b->capacity / 2;
            if (roomy > capacity) capacity = roomy < sizeLimit_ ? roomy : sizeLimit_;
        }
        const uint64_t others = counters_.reservedBytes - b->capacity;
        const uint64_t left = others <= budget_ ? budget_ - others : 0;
        if (newSize > left) {
            ++counters_.refusals;
            return HOST_ERR_OUT_OF_MEMORY;
        }
        if (capacity > left) capacity = left;
        if (!relocate(*b, newSize, capacity)) return HOST_ERR_OUT_OF_MEMORY;
    } else if (newSize < b->size) {
        cutOff(static_cast<uint8_t *>(b->data) + newSize, b->size - newSize);
    } else if (newSize > b->size) {
        grownInPlace(static_cast<uint8_t *>(b->data) + b->size, newSize - b->size);
    }
    b->size = newSize;
    return 0;
}

void HandleStore::setSizeLimit(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(mutex);
    sizeLimit_ = bytes;
}

uint64_t HandleStore::sizeLimit() {
    std::lock_guard<std::mutex> guard(mutex);
    return sizeLimit_;
}

void HandleStore::setBudget(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(mutex);
    budget_ = bytes;
}

uint64_t HandleStore::budget() {
    std::lock_guard<std::mutex> guard(mutex);
    return budget_;
}

HandleStore::Counters HandleStore::counters() {
    std::lock_guard<std::mutex> guard(mutex);
    return counters_;
}

size_t HandleStore::liveHandles() {
    std::lock_guard<std::mutex> guard(mutex);
    return blocks.size();
}

void setHandleSizeLimit(uint64_t bytes) { handleStore().setSizeLimit(bytes); }
uint64_t handleSizeLimit() { return handleStore().sizeLimit(); }
void setHandleBudget(uint64_t bytes) { handleStore().setBudget(bytes); }
uint64_t handleBudget() { return handleStore().budget(); }

HostHandle newHandle(uint64_t size) {
    if (failure(Host::current(), {Service::NewHandle})) return nullptr;
    return handleStore().create(size);
}

void *lockHandle(HostHandle h) { return handleStore().lock(h); }
void unlockHandle(HostHandle h) { handleStore().unlock(h); }
void disposeHandle(HostHandle h) { handleStore().dispose(h); }
uint64_t getHandleSize(HostHandle h) { return handleStore().size(h); }

int32_t resizeHandle(uint64_t newSize, HostHandle *h) {
    if (!h) return HOST_ERR_INVALID_CALLBACK;
    if (auto error = failure(Host::current(), {Service::ResizeHandle})) return *error;
    return handleStore().resize(newSize, h);
}

}  // namespace minihost
