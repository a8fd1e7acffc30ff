// The host's progress report, as the render's steps see it.
#pragma once

#include <cstdint>

namespace pennaro {

class Progress {
public:
    // A nonzero answer stops the work; the caller returns it.
    virtual int32_t report(int32_t current, int32_t total) = 0;

protected:
    ~Progress() = default;
};

}  // namespace pennaro
