// Feeds arbitrary bytes to the TIFF layer reader. Whatever it accepts has
// the size it declares, and written out as TIFF and read again it gives the
// same values to the effect (a 16-bit file holds twice the values the effect
// has, so the samples themselves may differ). A limit well below the fuzzer's memory cap makes a file that
// would take more a refusal, not a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/core/errors.h"
#include "cli/images/image_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace pennaro_cli;
    constexpr uint64_t LIMIT = uint64_t{64} << 20;
    RgbaImage image;
    try {
        image = decodeTiff(std::vector<uint8_t>(data, data + size), "layer", LIMIT);
    } catch (const ToolError &) {
        return 0;
    }
    if (image.samples.size() != size_t(image.width) * size_t(image.height) * 4 ||
        (image.depth != 8 && image.depth != 16)) {
        std::fprintf(stderr, "tiff layer fuzzer: the image is not the size it declares\n");
        std::abort();
    }
    FrameRows rows{image.width, image.height, image.depth, [&image](int32_t y, uint16_t *out) {
                       const uint16_t *in = image.pixel(0, y);
                       for (size_t i = 0; i < size_t(image.width) * 4; ++i)
                           out[i] = effectValueOfSample(in[i], image.depth);
                   }};
    RgbaImage again = decodeTiff(tiffFormat().encode(rows, {}), "again", LIMIT);
    for (RgbaImage *each : {&image, &again})
        for (uint16_t &sample : each->samples) sample = effectValueOfSample(sample, each->depth);
    if (again.samples != image.samples) {
        std::fprintf(stderr, "tiff layer fuzzer: the image does not come back the same\n");
        std::abort();
    }
    return 0;
}
