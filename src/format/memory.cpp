#include "format/memory.h"

#include "pennaro/errors.h"

#include <cstdlib>
#include <cstring>

namespace pennaro {

namespace {

// Each block carries its size in front of the bytes the handle points at.
struct HeapBlock {
    void *data;
    uint64_t size;
};

void *allocate(uint64_t size) {
    // malloc(0) may give null; every block gets at least one byte.
    return size > SIZE_MAX ? nullptr : std::calloc(size ? static_cast<size_t>(size) : 1, 1);
}

}  // namespace

MemoryHandle HeapAllocator::newHandle(uint64_t size) {
    void *data = allocate(size);
    if (!data) return nullptr;
    auto *block = new HeapBlock{data, size};
    return &block->data;
}

void HeapAllocator::dispose(MemoryHandle h) {
    if (!h) return;
    auto *block = reinterpret_cast<HeapBlock *>(h);
    std::free(block->data);
    delete block;
}

uint64_t HeapAllocator::size(MemoryHandle h) { return h ? reinterpret_cast<HeapBlock *>(h)->size : 0; }

int32_t HeapAllocator::resize(MemoryHandle *h, uint64_t size) {
    auto *block = reinterpret_cast<HeapBlock *>(*h);
    void *data = allocate(size);
    if (!data) return HOST_ERR_OUT_OF_MEMORY;
    std::memcpy(data, block->data, static_cast<size_t>(size < block->size ? size : block->size));
    std::free(block->data);
    block->data = data;
    block->size = size;
    return 0;
}

}  // namespace pennaro
