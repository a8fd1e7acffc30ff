#include "cli/render/movie.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/core/errors.h"
#include "cli/core/memory_budget.h"
#include "cli/core/plugin_location.h"
#include "cli/video/movie.h"

namespace pennaro_cli {
namespace {

FrameRows rowsOf(const RgbaImage &image) {
    return FrameRows{image.width, image.height, image.depth, [&image](int32_t y, uint16_t *rgba) {
                         std::memcpy(rgba, image.pixel(0, y), size_t(image.width) * 4 * sizeof(uint16_t));
                     }, {}};
}

}  // namespace

// A movie: frames rendered (with --jobs, by that many sessions on threads
// of their own, each taking the next frame nobody has taken), encoded by
// one writer in frame order. At most two frames per renderer wait for the
// writer, so that memory stays bounded however slow the encoder is.
void renderMovie(const RenderJob &job, const std::vector<int32_t> &frames, int32_t width, int32_t height,
                 ProgressBar &progress, size_t &emptyFrames, ContactSheet *sheet, int64_t &clippedPixels,
                 int64_t &clippedFrames) {
    MovieSettings settings;
    settings.path = job.outputPattern;
    settings.kind = movieKindOf(job.outputPattern);
    settings.width = width, settings.height = height;
    settings.depth = job.depth;
    settings.rateNum = job.timeScale, settings.rateDen = uint32_t(job.timeStep);
    settings.aspectNum = job.pixelAspect.num > 0 ? uint32_t(job.pixelAspect.num) : 1;
    settings.aspectDen = job.pixelAspect.den;
    settings.firstFrame = frames.front();
    settings.crf = job.crf;
    settings.prores = job.prores;
    settings.matte = job.matte;
    settings.software = std::string("Pennaro ") + toolVersion();
    MovieWriter writer(settings);

    const size_t renderers = size_t(std::max(1, std::min<int>(job.jobs, int(frames.size()))));
    std::mutex lock;
    std::condition_variable changed;
    std::map<size_t, RgbaImage> ready;
    size_t nextToTake = 0, written = 0;
    std::string failure;
    bool stop = false;

    // The first failure, a renderer's or the writer's, stops every thread.
    auto fail = [&](const std::exception &e) {
        std::lock_guard<std::mutex> hold(lock);
        if (failure.empty()) failure = failureText(e);
        stop = true;
        changed.notify_all();
    };
    auto renderLoop = [&](RenderSession *given) {
        try {
            std::unique_ptr<RenderSession> own;
            if (!given) {
                own = std::make_unique<RenderSession>(job);
                own->messageSink = &ProgressBar::printMessage;
            }
            RenderSession &session = given ? *given : *own;
            for (;;) {
                size_t index;
                {
                    std::unique_lock<std::mutex> hold(lock);
                    changed.wait(hold, [&] { return stop || nextToTake < written + 2 * renderers; });
                    if (stop || nextToTake >= frames.size()) return;
                    index = nextToTake++;
                    progress.started(frames[index]);
                }
                RgbaImage image = session.renderFrame(frames[index]);
                const bool empty = session.lastFrameEmpty();
                const int64_t clipped = session.lastFrameClippedPixels();
                std::lock_guard<std::mutex> hold(lock);
                emptyFrames += empty;
                clippedPixels += clipped;
                clippedFrames += clipped > 0;
                ready.emplace(index, std::move(image));
                changed.notify_all();
            }
        } catch (const std::exception &e) {
            fail(e);
        }
    };

    std::vector<std::thread> threads;
    std::unique_ptr<RenderSession> first;
    if (renderers == 1) first = std::make_unique<RenderSession>(job), first->messageSink = &ProgressBar::printMessage;
    try {
        if (renderers > 1)
            for (size_t i = 0; i < renderers; ++i) threads.emplace_back(renderLoop, nullptr);
        else
            threads.emplace_back(renderLoop, first.get());
        for (size_t index = 0; index < frames.size(); ++index) {
            RgbaImage image;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return stop || ready.count(index); });
                if (!ready.count(index)) break;
                image = std::move(ready.at(index));
                ready.erase(index);
            }
            writer.add(rowsOf(image));
            if (sheet) sheet->add(frameAtFileScale(image));
            std::lock_guard<std::mutex> hold(lock);
            progress.update(++written, frames[index]);
            changed.notify_all();
        }
    } catch (const std::exception &e) {
        fail(e);
    }
    for (std::thread &t : threads) t.join();
    if (!failure.empty()) throw ToolError(failure + "; no movie was written");
    writer.finish();
}

}  // namespace pennaro_cli
