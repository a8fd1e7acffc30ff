// Relocatable memory blocks with exact sizes and counted locks.
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

void HandleStore::noted(Event event, const char *misuse) {
    if (event == Event::Misused) protocolError(Host::current(), misuse);
}

HandleStore::Block *HandleStore::find(HostHandle h, const char *misuse) {
    auto it = blocks.find(h);
    if (it != blocks.end()) return it->second;
    noted(Event::Misused, misuse);
    return nullptr;
}

// Moves a block to a fresh address, keeping what fits of its content.
bool HandleStore::relocate(Block &b, uint64_t newSize) {
    void *fresh = obtain(newSize);
    if (!fresh) return false;
    uint64_t keep = b.size < newSize ? b.size : newSize;
    if (keep) std::memcpy(fresh, b.data, keep);
    giveBack(b.data, b.size);
    b.data = fresh;
    noted(Event::Moved, nullptr);
    return true;
}

HostHandle HandleStore::create(uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    if (size > sizeLimit_) return nullptr;
    void *data = obtain(size);
    if (!data) return nullptr;
    auto *b = new Block{data, size, 0};
    auto h = reinterpret_cast<HostHandle>(&b->data);
    blocks[h] = b;
    noted(Event::Created, nullptr);
    return h;
}

void *HandleStore::lock(HostHandle h) {
    std::lock_guard<std::mutex> guard(mutex);
    Block *b = find(h, "lock of an unknown handle");
    if (!b) return nullptr;
    if (b->locks == 0 && movesUnlocked()) relocate(*b, b->size);
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
    giveBack(b->data, b->size);
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
    if (newSize > sizeLimit_) return HOST_ERR_OUT_OF_MEMORY;
    // Growing always moves the block (the effect must not hold its address
    // across a resize); shrinking keeps it in place.
    if (newSize > b->size || (b->locks == 0 && movesUnlocked())) {
        if (!relocate(*b, newSize)) return HOST_ERR_OUT_OF_MEMORY;
    } else if (newSize < b->size) {
        cutOff(static_cast<uint8_t *>(b->data) + newSize, b->size - newSize);
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

size_t HandleStore::liveHandles() {
    std::lock_guard<std::mutex> guard(mutex);
    return blocks.size();
}

void setHandleSizeLimit(uint64_t bytes) { handleStore().setSizeLimit(bytes); }
uint64_t handleSizeLimit() { return handleStore().sizeLimit(); }

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
