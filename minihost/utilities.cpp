// The utility table: handles, text formatting, images and square root.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "minihost/detail.h"

namespace minihost {

const HostUtilities HostCallbacks::utilities = {
    &minihost::newHandle,
    &minihost::lockHandle,
    &minihost::unlockHandle,
    &minihost::disposeHandle,
    &minihost::getHandleSize,
    &minihost::resizeHandle,
    &HostCallbacks::formatText,
    &HostCallbacks::copyText,
    &HostCallbacks::disposeWorld,
    &HostCallbacks::getPixelAddress8,
    &HostCallbacks::getPixelAddress16,
    &HostCallbacks::squareRoot,
};

void formatInto(char *dest, size_t capacity, const char *format, va_list args) {
    // Built aside first: an argument may be the destination itself.
    std::string text;
    for (const char *p = format; p && *p; ++p) {
        if (*p != '%') {
            text += *p;
            continue;
        }
        const char *start = p++;
        bool isLong = false;
        while (*p == 'l') {
            isLong = true;
            ++p;
        }
        switch (*p) {
        case 's': {
            const char *s = va_arg(args, const char *);
            text += s ? s : "(null)";
            break;
        }
        case 'd':
        case 'i':
            // The effect passes 32-bit integers for "%ld": `long` is 32 bits
            // on the host's main platform.
            text += std::to_string(static_cast<int32_t>(va_arg(args, int)));
            break;
        case 'u':
            text += std::to_string(static_cast<uint32_t>(va_arg(args, unsigned)));
            break;
        case '%':
            text += '%';
            break;
        default:
            protocolError(Host::current(), std::string("format text with an unsupported conversion: ") + format);
            if (*p == '\0') --p;
            text.append(start, p + 1);
            break;
        }
        (void)isLong;
    }
    size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

void HostCallbacks::formatText(char *dest, const char *format, ...) {
    if (!dest) return;
    va_list args;
    va_start(args, format);
    formatInto(dest, HOST_MESSAGE_LEN, format, args);
    va_end(args);
}

void HostCallbacks::copyText(char *dest, const char *src) {
    if (!dest) return;
    if (!src) {
        dest[0] = '\0';
        return;
    }
    std::memmove(dest, src, std::strlen(src) + 1);
}

double HostCallbacks::squareRoot(double x) { return std::sqrt(x); }

namespace {

template <typename Pixel>
int32_t pixelAddress(HostWorld *world, void *pixelFormat, Pixel **out, bool deep) {
    if (!out) return HOST_ERR_INVALID_CALLBACK;
    *out = nullptr;
    Host *h = Host::current();
    if (auto error = failure(h, {Service::PixelAddress})) return *error;
    if (pixelFormat) protocolError(h, "pixel address with a pixel format");
    if (!world || !world->data) return HOST_ERR_BAD_PARAM;
    if (((world->flags & HOST_WORLD_FLAG_DEEP) != 0) != deep) {
        protocolError(h, deep ? "16-bit pixel address of an 8-bit image" : "8-bit pixel address of a 16-bit image");
        return HOST_ERR_BAD_PARAM;
    }
    *out = static_cast<Pixel *>(world->data);
    return 0;
}

}  // namespace

int32_t HostCallbacks::getPixelAddress8(HostWorld *world, void *pixelFormat, HostPixel8 **out) {
    return pixelAddress(world, pixelFormat, out, false);
}

int32_t HostCallbacks::getPixelAddress16(HostWorld *world, void *pixelFormat, HostPixel16 **out) {
    return pixelAddress(world, pixelFormat, out, true);
}

}  // namespace minihost
