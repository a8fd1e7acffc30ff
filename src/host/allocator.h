// The host's handle services as the layers below see them: each call is
// exactly one host call.
#pragma once

#include "format/memory.h"
#include "pennaro/host_records.h"

namespace pennaro {

class HostAllocator final : public Allocator {
public:
    explicit HostAllocator(const HostUtilities &utils) : utils_(utils) {}
    MemoryHandle newHandle(uint64_t size) override { return utils_.newHandle(size); }
    void *lock(MemoryHandle h) override { return utils_.lockHandle(h); }
    void unlock(MemoryHandle h) override { utils_.unlockHandle(h); }
    void dispose(MemoryHandle h) override { utils_.disposeHandle(h); }
    uint64_t size(MemoryHandle h) override { return utils_.getHandleSize(h); }
    int32_t resize(MemoryHandle *h, uint64_t size) override { return utils_.resizeHandle(size, h); }

private:
    const HostUtilities &utils_;
};

}  // namespace pennaro
