// The one in-memory image of the tool: RGBA with straight alpha, rows
// packed, four samples per pixel, on one of two scales.
//
// The effect works with 8-bit channels 0..255 and 16-bit channels 0..32768.
// PNG files hold 0..255 and 0..65535. At 16 bits we map both ways with
// integer arithmetic chosen so that a frame written and read back gives the
// very same values:
//
//   written:  file = min((v * 65535 + 16384) / 32768, 65535)     v in 0..32768
//   read:     v    = (file * 32768 + 32767) / 65535               file in 0..65535
//
// An 8-bit sample s that has to reach a 16-bit image becomes
// (s * 32768 + 127) / 255.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pennaro_cli {

// File: the samples an integer file of that depth stores (0..255 at 8 bits,
// 0..65535 at 16), as images are read and written. Effect: the effect's own
// channel values (0..255 at 8 bits, 0..32768 at 16), as layers are handed to
// it and frames come back.
enum class SampleScale { File, Effect };

struct RgbaImage {
    int32_t width = 0;
    int32_t height = 0;
    int depth = 8;  // 8 or 16
    SampleScale scale = SampleScale::File;
    std::vector<uint16_t> samples;

    uint16_t *pixel(int32_t x, int32_t y) { return &samples[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
    const uint16_t *pixel(int32_t x, int32_t y) const {
        return &samples[(size_t(y) * size_t(width) + size_t(x)) * 4];
    }
};

RgbaImage makeImage(int32_t width, int32_t height, int depth, SampleScale scale = SampleScale::File);

// The 16-bit mapping above, one sample at a time. Inline, as every sample
// of a 16-bit frame goes through one of them on its way to or from a file.
inline uint16_t sixteenBitFromFile(uint16_t fileSample) {
    return uint16_t((uint32_t(fileSample) * 32768u + 32767u) / 65535u);
}
inline uint16_t sixteenBitToFile(uint16_t value) {
    const uint32_t v = (uint32_t(value) * 65535u + 16384u) / 32768u;
    return uint16_t(v < 65535u ? v : 65535u);
}
// An 8-bit sample brought to the effect's 16-bit range.
inline uint16_t eightBitToSixteen(uint16_t sample) { return uint16_t((uint32_t(sample) * 32768u + 127u) / 255u); }

}  // namespace pennaro_cli
