// Feeds arbitrary bytes to the layer reader. Whatever it accepts has the
// size it declares, and written out and read again it gives the same
// samples. A limit well below the fuzzer's memory cap makes a file that
// would take more a refusal, not a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/core/errors.h"
#include "cli/images/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace pennaro_cli;
    constexpr uint64_t LIMIT = uint64_t{64} << 20;
    RgbaImage image;
    try {
        image = decodePng(std::vector<uint8_t>(data, data + size), "layer", LIMIT);
    } catch (const ToolError &) {
        return 0;
    }
    if (image.samples.size() != size_t(image.width) * size_t(image.height) * 4 ||
        (image.depth != 8 && image.depth != 16)) {
        std::fprintf(stderr, "png layer fuzzer: the image is not the size it declares\n");
        std::abort();
    }
    if (decodePng(encodePng(image), "again", LIMIT).samples != image.samples) {
        std::fprintf(stderr, "png layer fuzzer: the image does not come back the same\n");
        std::abort();
    }
    return 0;
}
