// Feeds arbitrary bytes to the OpenEXR layer reader, at both depths a layer
// is read at. Whatever it accepts has the size it declares, and written out
// as float EXR and read again at the same depth it gives the same samples
// (float keeps every value either depth can hold). A limit well below the
// fuzzer's memory cap makes a file that would take more a refusal, not a
// finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/core/errors.h"
#include "cli/images/image_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace pennaro_cli;
    constexpr uint64_t LIMIT = uint64_t{64} << 20;
    const std::vector<uint8_t> bytes(data, data + size);
    for (int depth : {8, 16}) {
        RgbaImage image;
        try {
            image = decodeExr(bytes, "layer", LIMIT, depth);
        } catch (const ToolError &) {
            return 0;
        }
        if (image.samples.size() != size_t(image.width) * size_t(image.height) * 4 || image.depth != depth) {
            std::fprintf(stderr, "exr layer fuzzer: the image is not the size it declares\n");
            std::abort();
        }
        // Colour under zero alpha is not kept by EXR: compare it as zero.
        for (size_t i = 0; i < image.samples.size(); i += 4)
            if (image.samples[i + 3] == 0) image.samples[i] = image.samples[i + 1] = image.samples[i + 2] = 0;
        FrameRows rows{image.width, image.height, depth, [&image](int32_t y, uint16_t *out) {
                           const uint16_t *in = image.pixel(0, y);
                           for (size_t i = 0; i < size_t(image.width) * 4; ++i)
                               out[i] = effectValueOfSample(in[i], image.depth);
                       }};
        ImageWriteSettings settings;
        settings.exrFloat = true;
        if (decodeExr(exrFormat().encode(rows, settings), "again", LIMIT, depth).samples != image.samples) {
            std::fprintf(stderr, "exr layer fuzzer: the image does not come back the same\n");
            std::abort();
        }
    }
    return 0;
}
