// The per-pixel compositing rules, in their plain form.
#pragma once

#include "pixels/image.h"

namespace pennaro {

// Straight-alpha "over" of `top` onto `bottom`, as the two depths define it.
// The two differ on purpose in their shortcuts: the 8-bit form tests the top
// first and returns an opaque top as it stands; the 16-bit form tests the
// bottom first and has no opaque shortcut.
Pixel8 over8(Pixel8 top, Pixel8 bottom);
Pixel16 over16(Pixel16 top, Pixel16 bottom);

}  // namespace pennaro
