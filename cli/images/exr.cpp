// OpenEXR through the format's own library: written as scanline RGBA, ZIP
// compressed (lossless), half or float channels, premultiplied alpha, the
// pixel aspect in the header. The arithmetic is fixed so that a frame comes
// back as it was written: colour = (v / scale) × (a / scale) in double, then
// stored as the channel type; read as round(colour / alpha × scale).
//
// A frame is written as value / 255 (depth 8) or value / 32768 (depth 16),
// colour multiplied by alpha, with no colour transform; it is read back at
// the depth the caller asks for, colour divided by alpha and rounded to the
// nearest value. Half floats keep 11 significant bits, so every 8-bit frame
// and every frame written as float comes back exactly; a 16-bit frame
// written as half comes back within 1/1024 of full scale (32 of 32768),
// colour being divided by a rounded alpha. Colour under zero alpha is not
// kept.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <half.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "cli/core/errors.h"
#include "cli/images/image_format.h"

namespace pennaro_cli {
namespace {

constexpr int BAND = 16;  // rows per block of ZIP compression

bool exrRecognises(const uint8_t *head, size_t size) {
    return size >= 4 && head[0] == 0x76 && head[1] == 0x2f && head[2] == 0x31 && head[3] == 0x01;
}

[[noreturn]] void fail(const std::string &name, const std::exception &e) {
    throw ToolError(name + ": not a readable OpenEXR file (" + e.what() + ")");
}

// The size of the file's data window, refused when it is empty or beyond
// what an image here can hold.
std::pair<int32_t, int32_t> windowSize(const Imf::InputFile &file, const std::string &name) {
    const Imath::Box2i window = file.header().dataWindow();
    const int64_t width = int64_t(window.max.x) - window.min.x + 1;
    const int64_t height = int64_t(window.max.y) - window.min.y + 1;
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        throw ToolError(name + ": OpenEXR header declares no usable image size");
    return {int32_t(width), int32_t(height)};
}

ImageHeader exrProbe(const std::filesystem::path &path) {
    try {
        Imf::InputFile file(path.c_str());
        const auto [width, height] = windowSize(file, path.string());
        return ImageHeader{"OpenEXR", width, height, 16, true};
    } catch (const ToolError &) {
        throw;
    } catch (const std::exception &e) {
        fail(path.string(), e);
    }
}

// A slice of `band` whose row y (in the file's data window) is band row
// y - firstRow. The base address is computed as an integer: the library
// only ever adds y × stride back for rows inside the band.
Imf::Slice bandSlice(float *band, int channel, int32_t minX, int32_t firstRow, int32_t width, float fill) {
    const size_t xStride = 4 * sizeof(float), yStride = xStride * size_t(width);
    const uintptr_t base = reinterpret_cast<uintptr_t>(band + channel) - uintptr_t(intptr_t(minX)) * xStride -
                           uintptr_t(intptr_t(firstRow)) * yStride;
    return Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(base), xStride, yStride, 1, 1, double(fill));
}

RgbaImage exrRead(const std::filesystem::path &path, uint64_t maxBytes, int depth) {
    const std::string name = path.string();
    try {
        Imf::InputFile file(path.c_str());
        const Imath::Box2i window = file.header().dataWindow();
        const auto [width, height] = windowSize(file, name);
        if (uint64_t(width) * uint64_t(height) * 8 > maxBytes)
            throw ToolError(name + ": a " + std::to_string(width) + "x" + std::to_string(height) +
                            " image takes more memory than this run allows");
        const Imf::ChannelList &channels = file.header().channels();
        // Grey images (a lone Y) give the same value to red, green and blue.
        const bool grey = !channels.findChannel("R") && channels.findChannel("Y");
        const bool hasAlpha = channels.findChannel("A") != nullptr;

        RgbaImage image = makeImage(width, height, depth);
        const double scale = depth == 16 ? 32768.0 : 255.0;
        std::vector<float> band(size_t(width) * 4 * BAND);
        for (int32_t y0 = 0; y0 < height; y0 += BAND) {
            const int32_t rows = std::min(BAND, height - y0);
            const int32_t fileRow = window.min.y + y0;
            Imf::FrameBuffer buffer;
            if (grey) {
                buffer.insert("Y", bandSlice(band.data(), 0, window.min.x, fileRow, width, 0.0f));
            } else {
                const char *names[3] = {"R", "G", "B"};
                for (int c = 0; c < 3; ++c)
                    buffer.insert(names[c], bandSlice(band.data(), c, window.min.x, fileRow, width, 0.0f));
            }
            buffer.insert("A", bandSlice(band.data(), 3, window.min.x, fileRow, width, 1.0f));
            file.setFrameBuffer(buffer);
            file.readPixels(fileRow, fileRow + rows - 1);
            for (int32_t r = 0; r < rows; ++r) {
                const float *p = &band[size_t(r) * size_t(width) * 4];
                uint16_t *out = image.pixel(0, y0 + r);
                for (int32_t x = 0; x < width; ++x, p += 4, out += 4) {
                    const double alpha = hasAlpha ? std::clamp(double(p[3]), 0.0, 1.0) : 1.0;
                    double v[4];
                    for (int c = 0; c < 3; ++c) {
                        const double colour = grey ? double(p[0]) : double(p[c]);
                        // Back to straight colour; NaN and colour without
                        // alpha come out as 0.
                        v[c] = alpha > 0 && colour > 0 ? std::min(colour / alpha, 1.0) : 0.0;
                    }
                    v[3] = alpha;
                    for (int c = 0; c < 4; ++c) {
                        const auto value = uint16_t(std::floor(v[c] * scale + 0.5));
                        out[c] = depth == 16 ? sixteenBitToFile(value) : value;
                    }
                }
            }
        }
        return image;
    } catch (const ToolError &) {
        throw;
    } catch (const std::exception &e) {
        fail(name, e);
    }
}

// The file as it is written, kept in memory for the atomic write.
class MemoryStream : public Imf::OStream {
public:
    MemoryStream() : Imf::OStream("frame") {}
    void write(const char c[], int n) override {
        if (position_ + uint64_t(n) > bytes.size()) bytes.resize(size_t(position_ + uint64_t(n)));
        std::memcpy(bytes.data() + position_, c, size_t(n));
        position_ += uint64_t(n);
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t position) override { position_ = position; }
    std::vector<uint8_t> bytes;

private:
    uint64_t position_ = 0;
};

std::vector<uint8_t> exrEncode(const FrameRows &frame, const ImageWriteSettings &settings) {
    Imf::Header header(frame.width, frame.height, float(double(settings.aspectNum) / double(settings.aspectDen)));
    header.compression() = Imf::ZIP_COMPRESSION;
    const Imf::PixelType type = settings.exrFloat ? Imf::FLOAT : Imf::HALF;
    for (const char *c : {"R", "G", "B", "A"}) header.channels().insert(c, Imf::Channel(type));
    MemoryStream stream;
    const double scale = frame.depth == 16 ? 32768.0 : 255.0;
    std::vector<uint16_t> values(size_t(frame.width) * 4);
    std::vector<float> floats(size_t(frame.width) * 4 * BAND);
    std::vector<half> halves(settings.exrFloat ? 0 : floats.size());
    try {
        Imf::OutputFile file(stream, header, 0);
        for (int32_t y0 = 0; y0 < frame.height; y0 += BAND) {
            const int32_t rows = std::min(BAND, frame.height - y0);
            for (int32_t r = 0; r < rows; ++r) {
                frame.row(y0 + r, values.data());
                float *out = &floats[size_t(r) * size_t(frame.width) * 4];
                for (int32_t x = 0; x < frame.width; ++x) {
                    const uint16_t *v = &values[size_t(x) * 4];
                    const double alpha = double(v[3]) / scale;
                    for (int c = 0; c < 3; ++c) out[4 * x + c] = float(double(v[c]) / scale * alpha);
                    out[4 * x + 3] = float(alpha);
                }
            }
            const size_t count = size_t(rows) * size_t(frame.width) * 4;
            char *data = reinterpret_cast<char *>(floats.data());
            size_t sampleSize = sizeof(float);
            if (!settings.exrFloat) {
                for (size_t i = 0; i < count; ++i) halves[i] = half(floats[i]);
                data = reinterpret_cast<char *>(halves.data());
                sampleSize = sizeof(half);
            }
            const size_t xStride = 4 * sampleSize, yStride = xStride * size_t(frame.width);
            Imf::FrameBuffer buffer;
            int c = 0;
            for (const char *name : {"R", "G", "B", "A"}) {
                const uintptr_t base = reinterpret_cast<uintptr_t>(data + size_t(c++) * sampleSize) -
                                       uintptr_t(intptr_t(y0)) * yStride;
                buffer.insert(name, Imf::Slice(type, reinterpret_cast<char *>(base), xStride, yStride));
            }
            file.setFrameBuffer(buffer);
            file.writePixels(rows);
        }
    } catch (const std::exception &e) {
        throw ToolError(std::string("cannot encode the OpenEXR image: ") + e.what());
    }
    return std::move(stream.bytes);
}

}  // namespace

const ImageFormat &exrFormat() {
    static const ImageFormat format{"OpenEXR", {".exr"}, exrRecognises, exrProbe, exrRead, exrEncode};
    return format;
}

}  // namespace pennaro_cli
