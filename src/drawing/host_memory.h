// Thin wrappers over the host's handle operations, so the drawing code reads
// as what it does. A handle's block may move whenever it is not locked: an
// address from lockHandle is good only until the matching unlockHandle.
#pragma once

#include <cstdint>

#include "pennaro/host_records.h"

namespace pennaro {

inline HostHandle newHandle(const HostInData *in, uint64_t size) { return in->utils->newHandle(size); }

template <typename T = uint8_t>
inline T *lockHandle(const HostInData *in, HostHandle h) {
    return static_cast<T *>(in->utils->lockHandle(h));
}

inline void unlockHandle(const HostInData *in, HostHandle h) { in->utils->unlockHandle(h); }
inline void disposeHandle(const HostInData *in, HostHandle h) { in->utils->disposeHandle(h); }
inline uint64_t handleSize(const HostInData *in, HostHandle h) { return in->utils->getHandleSize(h); }
inline int32_t resizeHandle(const HostInData *in, HostHandle *h, uint64_t size) {
    return in->utils->resizeHandle(size, h);
}

}  // namespace pennaro
