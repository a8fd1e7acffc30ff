// Layers in the formats OpenImageIO reads (DPX layouts of any kind, Cineon,
// Targa, JPEG, BMP, Radiance HDR, Photoshop, ...): the module the tool loads
// for them where the build found OpenImageIO (see oiio_module.h).
// PNG, TIFF, OpenEXR and the tool's own DPX layouts keep the tool's readers;
// only a file none of them takes comes here, and only to be read: outputs
// stay the tool's own.
//
// Samples come as the tool's other readers give them: 8-bit files as 8-bit
// images, anything deeper as 16-bit ones (integer samples as OpenImageIO
// scales them to 0..65535); floating-point samples held to 0..1 and rounded
// to the effect's 16-bit scale, as an OpenEXR layer's are. One to four
// channels are grey, grey and alpha, RGB and RGBA, as in PNG; further
// channels are left out. Alpha is straight: a file whose colour is
// premultiplied is divided back, as OpenEXR layers are. Only the first
// image of a file with several is read.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "cli/core/errors.h"
#include "cli/images/oiio_module.h"

namespace pennaro_cli {
namespace {

namespace OIIO = OIIO_NAMESPACE;
// OpenImageIO's own name for an image's description (size, channels, sample type).
using Description = OIIO::ImageSpec;

// What opening a file gave: the reader, its first image's description, and
// how its samples are read.
struct Opened {
    std::unique_ptr<OIIO::ImageInput> in;
    Description layout;
    int channels = 0;        // read: 1..4
    bool alpha = false;      // grey + alpha, or RGBA
    bool floats = false;     // read as floats: float samples, or colour premultiplied
    bool premultiplied = false;
    int depth = 8;           // the image made: 8 or 16
};

std::string errorOf(const std::string &fromReader, const char *otherwise) {
    std::string text = fromReader.empty() ? OIIO::geterror() : fromReader;
    // OpenImageIO's messages may span lines; ours are one.
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? otherwise : text;
}

Opened openFile(const std::filesystem::path &path) {
    const std::string name = path.string();
    // The tool reads a layer on the thread that renders it; OpenImageIO's
    // own pool would only compete with the effect's threads.
    static const bool configured = [] {
        OIIO::attribute("threads", 1);
        return true;
    }();
    (void)configured;
    // Unpremultiplied files stay as they are: the tool's images are straight.
    Description config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    Opened o;
    o.in = OIIO::ImageInput::open(name, &config);
    if (!o.in) throw ToolError(name + " is not an image the tool reads (OpenImageIO: " + errorOf("", "no reader takes it") + ")");
    // Its test reader makes an image of any file named *.null.
    if (std::string(o.in->format_name()) == "null") throw ToolError(name + " is not an image the tool reads");
    o.layout = o.in->spec();
    const Description &s = o.layout;
    if (s.deep) throw ToolError(name + ": deep images are not read as layers");
    if (s.depth > 1) throw ToolError(name + ": volume images are not read as layers");
    if (s.width <= 0 || s.height <= 0 || s.nchannels <= 0)
        throw ToolError(name + ": the header declares no usable image size");
    o.channels = std::min(s.nchannels, 4);
    o.alpha = o.channels == 2 || o.channels == 4;
    // Colour is premultiplied where the reader names an alpha channel and
    // does not say it left it unassociated; a last channel it does not call
    // alpha (grey and alpha Targa) is taken as PNG takes it, straight.
    o.premultiplied = o.alpha && s.alpha_channel == o.channels - 1 &&
                      s.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    bool floating = s.format.is_floating_point(), deep = s.format.size() > 1;
    for (int c = 0; c < o.channels && c < int(s.channelformats.size()); ++c) {
        floating = floating || s.channelformats[size_t(c)].is_floating_point();
        deep = deep || s.channelformats[size_t(c)].size() > 1;
    }
    o.floats = floating || o.premultiplied;
    o.depth = floating || deep ? 16 : 8;
    return o;
}

// Bytes for the samples as read plus the image made of them.
uint64_t neededBytes(const Opened &o) {
    const uint64_t pixels = saturatingProduct(uint64_t(o.layout.width), uint64_t(o.layout.height));
    const uint64_t read = saturatingProduct(pixels, uint64_t(o.channels) * (o.floats ? 4 : o.depth / 8));
    const uint64_t image = saturatingProduct(pixels, 8);
    return read > UINT64_MAX - image ? UINT64_MAX : read + image;
}

ImageHeader oiioProbe(const std::filesystem::path &path) {
    const Opened o = openFile(path);
    ImageHeader header;
    header.format = o.in->format_name();
    header.width = o.layout.width;
    header.height = o.layout.height;
    header.depth = o.depth;
    return header;
}

// One pixel of `channels` floats as straight RGBA on the effect's scale.
void floatPixel(const float *p, const Opened &o, uint16_t *out) {
    float rgba[4];
    if (o.channels <= 2) {
        rgba[0] = rgba[1] = rgba[2] = p[0];
    } else {
        for (int c = 0; c < 3; ++c) rgba[c] = p[c];
    }
    rgba[3] = o.alpha ? p[o.channels - 1] : 1.0f;
    if (o.premultiplied) return exrPixelToEffectValues(rgba, o.depth, out);
    const double scale = o.depth == 16 ? 32768.0 : 255.0;
    for (int c = 0; c < 4; ++c) {
        // Held to 0..1; NaN taken as 0.
        const double v = rgba[c] > 0 ? std::min(double(rgba[c]), 1.0) : 0.0;
        out[c] = uint16_t(std::floor(v * scale + 0.5));
    }
}

RgbaImage oiioRead(const std::filesystem::path &path, uint64_t maxBytes, int) {
    const std::string name = path.string();
    Opened o = openFile(path);
    refuseUnlessHeld(name, uint64_t(o.layout.width), uint64_t(o.layout.height), 0, 0, 1, neededBytes(o), maxBytes);
    const size_t pixels = size_t(o.layout.width) * size_t(o.layout.height);
    const size_t count = pixels * size_t(o.channels);
    RgbaImage image = makeImage(o.layout.width, o.layout.height, o.depth);
    const uint16_t opaque = o.depth == 16 ? 65535 : 255;
    auto place = [&](size_t i, auto sample) {
        uint16_t *out = &image.samples[i * 4];
        const size_t at = i * size_t(o.channels);
        if (o.channels <= 2) {
            out[0] = out[1] = out[2] = uint16_t(sample(at));
        } else {
            for (size_t c = 0; c < 3; ++c) out[c] = uint16_t(sample(at + c));
        }
        out[3] = o.alpha ? uint16_t(sample(at + size_t(o.channels) - 1)) : opaque;
    };
    bool read = false;
    if (o.floats) {
        std::vector<float> samples(count);
        read = o.in->read_image(0, 0, 0, o.channels, OIIO::TypeDesc::FLOAT, samples.data());
        for (size_t i = 0; read && i < pixels; ++i) {
            uint16_t *out = &image.samples[i * 4];
            floatPixel(&samples[i * size_t(o.channels)], o, out);
            if (o.depth == 16)
                for (int c = 0; c < 4; ++c) out[c] = sixteenBitToFile(out[c]);
        }
    } else if (o.depth == 8) {
        std::vector<uint8_t> samples(count);
        read = o.in->read_image(0, 0, 0, o.channels, OIIO::TypeDesc::UINT8, samples.data());
        for (size_t i = 0; read && i < pixels; ++i) place(i, [&](size_t k) { return samples[k]; });
    } else {
        std::vector<uint16_t> samples(count);
        read = o.in->read_image(0, 0, 0, o.channels, OIIO::TypeDesc::UINT16, samples.data());
        for (size_t i = 0; read && i < pixels; ++i) place(i, [&](size_t k) { return samples[k]; });
    }
    // A reader may report a damaged file only when it is closed.
    if (read) read = o.in->close() && !o.in->has_error();
    if (!read)
        throw ToolError(name + ": " + errorOf(o.in->geterror(), "its pixels cannot be read") +
                        "; damaged or truncated");
    return image;
}

}  // namespace

std::string versionLine() {
    std::string names = OIIO::get_string_attribute("input_format_list");
    std::replace(names.begin(), names.end(), ',', ' ');
    std::string list;
    for (size_t at = 0; at < names.size();) {
        const size_t end = std::min(names.find(' ', at), names.size());
        const std::string format = names.substr(at, end - at);
        at = end + 1;
        // Those the tool reads itself, and the test reader refused above.
        if (format.empty() || format == "png" || format == "tiff" || format == "openexr" || format == "null") continue;
        list += (list.empty() ? "" : ", ") + format;
    }
    return "layers through OpenImageIO " + std::string(OIIO_VERSION_STRING) + ": " + list;
}

}  // namespace pennaro_cli

extern "C" __attribute__((visibility("default"))) const pennaro_cli::OiioReader *pennaro_oiio_reader_v1() {
    static const pennaro_cli::OiioReader reader{pennaro_cli::oiioProbe, pennaro_cli::oiioRead,
                                                pennaro_cli::versionLine};
    return &reader;
}
