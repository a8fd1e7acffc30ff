// Memory as every layer below the host adapter sees it: relocatable blocks
// reached through a handle, locked while their bytes are read or written.
// In the effect each call is exactly one call of the host's handle
// services, in the same order, so a host that runs out of memory fails the
// same request whichever layer made it; tests use their own heap allocator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pennaro {

// *handle is the block's address while it is locked; an unlocked block may
// move, so an address is good only until the matching unlock.
using MemoryHandle = void **;

class Allocator {
public:
    // Null when there is no memory.
    virtual MemoryHandle newHandle(uint64_t size) = 0;
    virtual void *lock(MemoryHandle h) = 0;
    virtual void unlock(MemoryHandle h) = 0;
    virtual void dispose(MemoryHandle h) = 0;
    virtual uint64_t size(MemoryHandle h) = 0;
    // May replace *h; the content is kept up to the old size. 0, or the
    // error the memory's owner gives (then nothing changed).
    virtual int32_t resize(MemoryHandle *h, uint64_t size) = 0;

protected:
    ~Allocator() = default;
};

// A block locked for as long as the guard lives (or until unlock()).
template <typename T = uint8_t>
class Locked {
public:
    Locked(Allocator &memory, MemoryHandle handle)
        : memory_(&memory), handle_(handle), data_(static_cast<T *>(memory.lock(handle))) {}
    ~Locked() { unlock(); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

    T *get() const { return data_; }
    T *operator->() const { return data_; }
    T &operator*() const { return *data_; }
    T &operator[](size_t i) const { return data_[i]; }
    explicit operator bool() const { return data_ != nullptr; }

    void unlock() {
        if (handle_) memory_->unlock(handle_);
        handle_ = nullptr;
        data_ = nullptr;
    }

private:
    Allocator *memory_;
    MemoryHandle handle_;
    T *data_;
};

}  // namespace pennaro
