#include "host/values.h"

#include <cstring>

namespace pennaro {

ImageView pixelView(const HostInData *in, HostWorld *world, bool deep) {
    ImageView view;
    if (!world) return view;
    view.rowBytes = world->rowBytes;
    view.width = world->width;
    view.height = world->height;
    view.deep = deep;
    if (deep) {
        HostPixel16 *first = nullptr;
        if (in->utils->getPixelAddress16) in->utils->getPixelAddress16(world, nullptr, &first);
        view.data = reinterpret_cast<uint8_t *>(first);
    } else {
        HostPixel8 *first = nullptr;
        if (in->utils->getPixelAddress8) in->utils->getPixelAddress8(world, nullptr, &first);
        view.data = reinterpret_cast<uint8_t *>(first);
    }
    return view;
}

LayerGeometry layerGeometry(const HostInData *in) {
    auto rational = [](const HostRational &r) { return Rational{r.num, r.den}; };
    return LayerGeometry{in->width,
                         in->height,
                         rational(in->downsampleX),
                         rational(in->downsampleY),
                         rational(in->pixelAspect),
                         in->originX,
                         in->originY};
}

TimeBase timeBase(const HostInData *in) {
    return TimeBase{in->currentTime, in->timeStep, in->localTimeStep, in->timeScale};
}

int32_t checkOutParamValue(const HostInData *in, int32_t index, int32_t time, int32_t timeStep, int32_t *value) {
    HostParam param;
    std::memset(&param, 0, sizeof param);
    const int32_t err = in->checkoutParam(in->effectRef, index, time, timeStep, in->timeScale, &param);
    if (err != 0) return err;
    std::memcpy(value, &param.u, sizeof *value);
    in->checkinParam(in->effectRef, &param);
    return 0;
}

}  // namespace pennaro
