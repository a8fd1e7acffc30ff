// A shot rendered to one movie file (cli/video) instead of frame files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cli/render/frames.h"
#include "cli/render/progress.h"
#include "cli/render/session.h"

namespace pennaro_cli {

// Renders `frames` of `job` (at the output size `width` x `height`) into the
// movie the job's output names: with --jobs N, N sessions on threads of
// their own render, one writer encodes in frame order. Adds each frame to
// `sheet` when given; counts frames that show no stroke in `emptyFrames`.
// Throws ToolError; a movie that fails leaves nothing under its name.
void renderMovie(const RenderJob &job, const std::vector<int32_t> &frames, int32_t width, int32_t height,
                 ProgressBar &progress, size_t &emptyFrames, ContactSheet *sheet, int64_t &clippedPixels,
                 int64_t &clippedFrames);

}  // namespace pennaro_cli
