#include "cli/images/image.h"

namespace pennaro_cli {

RgbaImage makeImage(int32_t width, int32_t height, int depth, SampleScale scale) {
    RgbaImage image;
    image.width = width;
    image.height = height;
    image.depth = depth;
    image.scale = scale;
    image.samples.assign(size_t(width) * size_t(height) * 4, 0);
    return image;
}

}  // namespace pennaro_cli
