// The last step of a render: the painted output meets the layer by the
// composite mode.
#pragma once

#include <cstdint>

#include "pixels/image.h"

namespace pennaro {

// Rewrites `output` in place from itself (the paint) and `layer`, at the
// output's depth. Does nothing when either image has no pixels.
void compositeFrame(const ImageView &layer, const ImageView &output, int32_t compositeMode);

}  // namespace pennaro
