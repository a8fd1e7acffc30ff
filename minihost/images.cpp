// Images: the Image helper, the world suite, copy and fill, disposeWorld.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "minihost/detail.h"

namespace minihost {

namespace {
constexpr uint8_t PADDING_BYTE = 0x5A;
}

Image::Image(int32_t width, int32_t height, bool deep, int32_t rowPaddingBytes)
    : padding_(rowPaddingBytes) {
    if (width < 0 || height < 0 || rowPaddingBytes < 0)
        throw std::runtime_error("image size must not be negative");
    world_.flags = deep ? HOST_WORLD_FLAG_DEEP : 0;
    world_.width = width;
    world_.height = height;
    int64_t rowBytes = int64_t(width) * (deep ? 8 : 4) + rowPaddingBytes;
    if (rowBytes > INT32_MAX) throw std::runtime_error("image too wide");
    world_.rowBytes = static_cast<int32_t>(rowBytes);
    allocate(std::max<size_t>(size_t(rowBytes) * size_t(height), 8), nullptr);
    for (int32_t y = 0; y < height; ++y)
        std::memset(bytes_.get() + size_t(y) * size_t(rowBytes) + size_t(rowBytes - padding_), PADDING_BYTE,
                    size_t(padding_));
    attach();
}

// Zeroed when `from` is null, a copy of `from` otherwise.
void Image::allocate(size_t size, const uint8_t *from) {
    void *p = from ? std::malloc(size) : std::calloc(size, 1);
    if (!p) throw std::bad_alloc();
    if (from) std::memcpy(p, from, size);
    bytes_.reset(static_cast<uint8_t *>(p));
    size_ = size;
}

Image::Image(const Image &other) : world_(other.world_), padding_(other.padding_) {
    allocate(other.size_, other.bytes_.get());
    attach();
}

Image &Image::operator=(const Image &other) {
    if (this != &other) {
        allocate(other.size_, other.bytes_.get());
        world_ = other.world_;
        padding_ = other.padding_;
        attach();
    }
    return *this;
}

void Image::attach() { world_.data = bytes_.get(); }

HostPixel8 &Image::pixel8(int32_t x, int32_t y) {
    return *reinterpret_cast<HostPixel8 *>(bytes_.get() + size_t(y) * size_t(world_.rowBytes) + size_t(x) * 4);
}
HostPixel16 &Image::pixel16(int32_t x, int32_t y) {
    return *reinterpret_cast<HostPixel16 *>(bytes_.get() + size_t(y) * size_t(world_.rowBytes) + size_t(x) * 8);
}
const HostPixel8 &Image::pixel8(int32_t x, int32_t y) const { return const_cast<Image *>(this)->pixel8(x, y); }
const HostPixel16 &Image::pixel16(int32_t x, int32_t y) const { return const_cast<Image *>(this)->pixel16(x, y); }

void Image::fill(uint16_t a, uint16_t r, uint16_t g, uint16_t b) {
    for (int32_t y = 0; y < height(); ++y)
        for (int32_t x = 0; x < width(); ++x) {
            if (deep())
                pixel16(x, y) = {a, r, g, b};
            else
                pixel8(x, y) = {uint8_t(a), uint8_t(r), uint8_t(g), uint8_t(b)};
        }
}

void Image::clear(int32_t threads) {
    const size_t pixelBytes = size_t(world_.rowBytes - padding_);
    onRowBands(height(), world_.rowBytes, threads, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; ++y)
            std::memset(bytes_.get() + size_t(y) * size_t(world_.rowBytes), 0, pixelBytes);
    });
}

bool Image::paddingIntact() const {
    for (int32_t y = 0; y < height(); ++y) {
        const uint8_t *p = bytes_.get() + size_t(y) * size_t(world_.rowBytes) + size_t(world_.rowBytes - padding_);
        for (int32_t i = 0; i < padding_; ++i)
            if (p[i] != PADDING_BYTE) return false;
    }
    return true;
}

std::vector<uint8_t> Image::packedPixels() const {
    size_t rowPixels = size_t(world_.rowBytes - padding_);
    std::vector<uint8_t> packed;
    packed.reserve(rowPixels * size_t(height()));
    for (int32_t y = 0; y < height(); ++y) {
        const uint8_t *row = bytes_.get() + size_t(y) * size_t(world_.rowBytes);
        packed.insert(packed.end(), row, row + rowPixels);
    }
    return packed;
}

bool Image::samePixels(const Image &other) const {
    return width() == other.width() && height() == other.height() && deep() == other.deep() &&
           packedPixels() == other.packedPixels();
}

// ------------------------------------------------------------ the suites

int32_t HostCallbacks::newWorld(HostEffectRef ref, int32_t width, int32_t height, int32_t flags,
                                HostWorld *out) {
    Host *h = host(ref);
    if (!out) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::NewImage})) return *error;
    if (width < 0 || height < 0) return HOST_ERR_BAD_PARAM;
    bool deep = (flags & HOST_NEW_WORLD_FLAG_DEEP) != 0;
    int32_t padding = 0;
    h->monitor().shapeImage(deep, padding);
    std::unique_ptr<Image> image;
    auto &spare = spareImages(*h);
    for (auto it = spare.begin(); it != spare.end(); ++it) {
        const Image &s = **it;
        if (s.width() == width && s.height() == height && s.deep() == deep &&
            s.padding() == padding) {
            image = std::move(*it);
            spare.erase(it);
            image->clear(h->threads);
            break;
        }
    }
    if (!image) image = std::make_unique<Image>(width, height, deep, padding);
    *out = image->world();
    images(*h).push_back(std::move(image));
    return 0;
}

int32_t HostCallbacks::disposeWorld(HostEffectRef ref, HostWorld *world) {
    Host *h = host(ref);
    if (!world) return HOST_ERR_INVALID_CALLBACK;
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::DisposeImage})) return *error;
    auto &list = images(*h);
    for (auto it = list.begin(); it != list.end(); ++it) {
        if ((*it)->world().data == world->data) {
            if (h->reuseImages) {
                auto &spare = spareImages(*h);
                spare.push_back(std::move(*it));
                // A few sizes at most are in use at once.
                if (spare.size() > 4) spare.erase(spare.begin());
            }
            list.erase(it);
            return 0;
        }
    }
    h->monitor().protocolError("dispose of an image the host did not make");
    return HOST_ERR_BAD_PARAM;
}

int32_t HostCallbacks::copyWorld(HostEffectRef ref, HostWorld *src, HostWorld *dst, const HostRect *srcRect,
                                 const HostRect *dstRect) {
    Host *h = host(ref);
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::CopyImage})) return *error;
    if (!src || !dst || !src->data || !dst->data) return HOST_ERR_BAD_PARAM;
    if (srcRect || dstRect) {
        h->monitor().protocolError("image copy with rectangles is not supported by this host");
        return HOST_ERR_BAD_PARAM;
    }
    if (src->width != dst->width || src->height != dst->height ||
        (src->flags & HOST_WORLD_FLAG_DEEP) != (dst->flags & HOST_WORLD_FLAG_DEEP)) {
        h->monitor().protocolError("image copy between images of different size or depth");
        return HOST_ERR_BAD_PARAM;
    }
    size_t rowPixels = size_t(src->width) * ((src->flags & HOST_WORLD_FLAG_DEEP) ? 8 : 4);
    onRowBands(src->height, int64_t(rowPixels), h->threads, [&](int32_t first, int32_t end) {
        for (int32_t y = first; y < end; ++y)
            std::memmove(static_cast<uint8_t *>(dst->data) + int64_t(y) * dst->rowBytes,
                         static_cast<const uint8_t *>(src->data) + int64_t(y) * src->rowBytes, rowPixels);
    });
    return 0;
}

int32_t HostCallbacks::fillWorld(HostEffectRef ref, const HostPixel8 *color, const HostRect *rect,
                                 HostWorld *world) {
    Host *h = host(ref);
    if (!h) return HOST_ERR_INTERNAL;
    if (auto error = failure(h, {Service::FillImage})) return *error;
    if (!world || !world->data) return HOST_ERR_BAD_PARAM;
    HostPixel8 c = color ? *color : HostPixel8{0, 0, 0, 0};
    int32_t left = 0, top = 0, right = world->width, bottom = world->height;
    if (rect) {
        left = std::max(left, rect->left);
        top = std::max(top, rect->top);
        right = std::min(right, rect->right);
        bottom = std::min(bottom, rect->bottom);
    }
    bool deep = (world->flags & HOST_WORLD_FLAG_DEEP) != 0;
    auto widen = [](uint8_t v) { return uint16_t((uint32_t(v) * 32768u + 127u) / 255u); };
    HostPixel16 c16{widen(c.alpha), widen(c.red), widen(c.green), widen(c.blue)};
    if (left >= right || top >= bottom) return 0;
    const int64_t bandRowBytes = int64_t(right - left) * (deep ? 8 : 4);
    onRowBands(bottom - top, bandRowBytes, h->threads, [&](int32_t first, int32_t end) {
        for (int32_t y = top + first; y < top + end; ++y) {
            uint8_t *row = static_cast<uint8_t *>(world->data) + int64_t(y) * world->rowBytes;
            if (deep)
                std::fill(reinterpret_cast<HostPixel16 *>(row) + left, reinterpret_cast<HostPixel16 *>(row) + right,
                          c16);
            else
                std::fill(reinterpret_cast<HostPixel8 *>(row) + left, reinterpret_cast<HostPixel8 *>(row) + right, c);
        }
    });
    return 0;
}

}  // namespace minihost
