// What a render checks before its first frame, so that a run that cannot
// finish fails before it writes anything: every frame's layer file read
// for its header alone (the pixels are decoded once, when the frame
// renders), and the frames --skip-existing may leave as they are.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/images/image_format.h"
#include "cli/render/session.h"

namespace pennaro_cli {

// The header of the layer of `frame`; a ToolError naming the frame and the
// file when it is missing or is no image the tool reads.
ImageHeader layerHeader(const std::string &pattern, int32_t frame);

// Every frame's layer has the size and depth of `first` (read from the first
// frame of the whole run, so that every chunk of it agrees): a ToolError
// naming the first frame and file that differ.
void checkLayerSequence(const std::string &pattern, const std::vector<int32_t> &frames, const ImageHeader &first);

// An output file a re-run may keep: read to its end, it is whole and is what
// this run would write (format, size, depth, channels, EXR pixel type and
// windows). A device or a stream is never kept, nor a file cut short,
// damaged or of another kind.
bool outputIsComplete(const std::string &path, const ImageFormat &format, const ExpectedImage &expected);

// The size of the frames written: the layer's (or --size), downsampled.
std::array<int32_t, 2> outputSize(const RenderJob &job, int32_t layerWidth, int32_t layerHeight);

// --dry-run: the run as it would go, one line per frame: the shot's frame,
// the effect's frame and time, the file written (or kept) and the layer read.
void printDryRun(std::FILE *out, const RenderJob &job, const std::vector<int32_t> &todo, int32_t width,
                 int32_t height);

}  // namespace pennaro_cli
