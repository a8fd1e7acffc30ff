// Whole frames of a saved drawing through the effect library, in process,
// the way a host drives it, timed frame by frame. Built for Linux with the
// benchmarks and for Windows by the windows preset, so that pennaro.dll
// under Wine and libpennaro.so render the same frames in one run, with
// Wine's start-up outside the timed part. Prints each frame's milliseconds
// and a hash of its pixels (the two libraries must print the same hashes).
//
//   frame_timer PLUGIN BLOCK WIDTH HEIGHT DEPTH WIGGLE FIRST LAST
//
// "All Strokes" over a transparent layer, 30 frames per second; frames
// FIRST..LAST; WIGGLE 0 or 1; DEPTH 8 or 16.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "catalog/params.h"
#include "minihost/minihost.h"

namespace {

int fail(const std::string &what) {
    std::fprintf(stderr, "frame_timer: %s\n", what.c_str());
    return 1;
}

uint64_t fnv1a(const minihost::Image &image) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t byte : image.packedPixels()) h = (h ^ byte) * 1099511628211ull;
    return h;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 9) return fail("usage: frame_timer PLUGIN BLOCK WIDTH HEIGHT DEPTH WIGGLE FIRST LAST");
    std::ifstream file(argv[2], std::ios::binary);
    const std::vector<char> block{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) return fail(std::string("cannot read ") + argv[2]);
    const int32_t width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    const bool deep = std::atoi(argv[5]) == 16, wiggle = std::atoi(argv[6]) != 0;
    const int32_t first = std::atoi(argv[7]), last = std::atoi(argv[8]);

    minihost::Plugin plugin(argv[1]);
    minihost::Host host;
    auto run = [&](int32_t command, HostWorld *output = nullptr) {
        const int32_t result = host.send(plugin.entry(), command, output);
        if (result != 0) std::exit(fail("command " + std::to_string(command) + " failed with " + std::to_string(result)));
    };
    if (plugin.registerEffect() != 0) return fail("registration failed");
    run(HOST_CMD_GLOBAL_SETUP);
    run(HOST_CMD_PARAMS_SETUP);
    HostHandle handle = minihost::newHandle(block.size());
    if (!block.empty()) std::memcpy(minihost::lockHandle(handle), block.data(), block.size());
    host.in.sequenceData = host.out.sequenceData = handle;
    run(HOST_CMD_SEQUENCE_RESETUP);
    host.setParam(pennaro::PARAM_PLAYBACK_MODE, pennaro::PLAYBACK_ALL);
    host.setParam(pennaro::PARAM_WIGGLE_ENABLE, wiggle ? 1.0 : 0.0);
    minihost::Image layer(width, height, deep);
    host.setLayer(&layer.world());

    double total = 0.0;
    for (int32_t frame = first; frame <= last; ++frame) {
        minihost::Image output(width, height, deep);
        host.setTime(frame, 1, 30);
        const auto start = std::chrono::steady_clock::now();
        run(HOST_CMD_RENDER, &output.world());
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        total += ms;
        std::printf("frame %d %.2f ms %016llx\n", frame, ms, static_cast<unsigned long long>(fnv1a(output)));
    }
    std::printf("total %.1f ms\n", total);
    host.setLayer(nullptr);
    run(HOST_CMD_SEQUENCE_SETDOWN);
    run(HOST_CMD_GLOBAL_SETDOWN);
    return 0;
}
