// Memory for host-free tests of the layers below the host adapter: the
// heap, with the failures and bookkeeping a test needs. Every live block
// is counted (a test checks nothing leaked), locks are counted (nothing
// left locked, no unlock of an unlocked block), unlocked blocks can be made
// to move on every lock (addresses kept across an unlock then read freed
// memory, which ASan reports), and the n-th new block or resize can fail.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "format/memory.h"

namespace test_support {

class TestMemory final : public pennaro::Allocator {
public:
    ~TestMemory() {
        for (auto &[handle, block] : blocks_) delete handle;
    }

    // The n-th new block from now (1: the next) returns null; with `sticky`
    // every one from then on.
    void failNewHandle(int32_t n, bool sticky = false) { newFault_ = Fault{n, sticky}; }
    // The n-th resize from now fails with `error`.
    void failResize(int32_t n, int32_t error = 4, bool sticky = false) {
        resizeFault_ = Fault{n, sticky};
        resizeError_ = error;
    }
    void moveOnLock(bool on) { moveOnLock_ = on; }

    size_t live() const { return blocks_.size(); }
    size_t locked() const {
        size_t n = 0;
        for (const auto &[handle, block] : blocks_) n += block.locks > 0;
        return n;
    }
    int32_t misuse() const { return misuse_; }
    int32_t newCalls() const { return newCalls_; }
    int32_t resizeCalls() const { return resizeCalls_; }

    pennaro::MemoryHandle newHandle(uint64_t size) override {
        ++newCalls_;
        if (newFault_.fires()) return nullptr;
        auto handle = new void *;
        Block &block = blocks_[handle];
        block.size = size;
        // Every block has an address, even an empty one.
        block.bytes = std::make_unique<std::vector<uint8_t>>(size ? size : 1, 0xBE);
        *handle = block.bytes->data();
        return handle;
    }
    void *lock(pennaro::MemoryHandle h) override {
        Block *block = find(h);
        if (!block) return nullptr;
        if (moveOnLock_ && block->locks == 0) relocate(h, *block, block->size);
        ++block->locks;
        return *h;
    }
    void unlock(pennaro::MemoryHandle h) override {
        Block *block = find(h);
        if (!block) return;
        if (block->locks == 0) ++misuse_;
        else --block->locks;
    }
    void dispose(pennaro::MemoryHandle h) override {
        if (!find(h)) return;
        blocks_.erase(h);
        delete h;
    }
    uint64_t size(pennaro::MemoryHandle h) override {
        Block *block = find(h);
        return block ? block->size : 0;
    }
    int32_t resize(pennaro::MemoryHandle *h, uint64_t size) override {
        ++resizeCalls_;
        if (resizeFault_.fires()) return resizeError_;
        Block *block = find(*h);
        if (!block) return 10;
        relocate(*h, *block, size);
        return 0;
    }

private:
    struct Block {
        std::unique_ptr<std::vector<uint8_t>> bytes;
        uint64_t size = 0;
        int32_t locks = 0;
    };
    struct Fault {
        int32_t countdown = 0;
        bool sticky = false;
        bool fires() {
            if (countdown <= 0) return false;
            if (--countdown > 0) return false;
            if (sticky) countdown = 1;
            return true;
        }
    };

    Block *find(pennaro::MemoryHandle h) {
        auto it = blocks_.find(h);
        if (it == blocks_.end()) {
            ++misuse_;
            return nullptr;
        }
        return &it->second;
    }
    // A fresh block: the old bytes freed, so stale addresses are caught.
    void relocate(pennaro::MemoryHandle h, Block &block, uint64_t size) {
        auto moved = std::make_unique<std::vector<uint8_t>>(size ? size : 1, 0xBE);
        std::memcpy(moved->data(), block.bytes->data(), std::min<uint64_t>(size, block.size));
        block.bytes = std::move(moved);
        block.size = size;
        *h = block.bytes->data();
    }

    std::map<pennaro::MemoryHandle, Block> blocks_;
    Fault newFault_, resizeFault_;
    int32_t resizeError_ = 4;
    bool moveOnLock_ = false;
    int32_t misuse_ = 0, newCalls_ = 0, resizeCalls_ = 0;
};

}  // namespace test_support
