// Reference frames driven straight through the effect library, the way a
// host drives it, with nothing but the stand-in host in between. It builds
// for Linux and for Windows alike (no libpng, no command-line tool), so the
// DLL under Wine and the shared library on Linux are held to the very same
// expected PNG files: equal on both sides means bit-identical frames.
//
// Channel mapping between the effect and PNG files, the same as the
// `pennaro` tool's: 8-bit samples as they are; at 16 bits an effect value v
// (0..32768) is stored as min((v * 65535 + 16384) / 32768, 65535) and a file
// sample s is read as (s * 32768 + 32767) / 65535; an 8-bit layer sample s
// entering a 16-bit image becomes (s * 32768 + 127) / 255.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pennaro/host_records.h"

namespace reference_frames {

// One case of tests/data/conformance/cases.json.
struct ReferenceCase {
    std::string name;
    std::string block;     // flattened drawing, file name
    std::string layer;     // layer PNG, file name; empty: a transparent layer
    std::string expected;  // expected output PNG, file name
    int32_t width = 0, height = 0;
    int depth = 8;
    int32_t currentTime = 0, timeStep = 1, localTimeStep = 1;
    uint32_t timeScale = 1;
    int32_t playbackMode = 1;
    double playbackSpeed = 1.0;
    int32_t composite = 2;
    bool wiggle = false;
    double wigglesPerSec = 0, displacementVariation = 0, displacementDetail = 0;
    double pressureVariation = 0, pressureDetail = 0;
    bool individualSeeds = true;
    HostRational pixelAspect{1, 1};
    HostRational downsample{1, 1};
    int32_t originX = 0, originY = 0;
};

// Reads the case list; throws std::runtime_error naming the file and the
// case for anything missing or malformed.
std::vector<ReferenceCase> loadCases(const std::string &casesJsonPath);

// An RGBA frame as PNG files hold it: samples 0..255 or 0..65535, four per
// pixel in the order red, green, blue, alpha, rows packed.
struct Frame {
    int32_t width = 0, height = 0;
    int depth = 8;
    std::vector<uint16_t> samples;
};

// Any PNG, expanded to RGBA (opaque where the file has no alpha), at the
// file's own depth (8 or 16). Throws std::runtime_error.
Frame readPng(const std::string &path);

std::vector<uint8_t> readFile(const std::string &path);

// The 16-bit mapping between the effect's range and PNG samples.
uint16_t sixteenBitFromFile(uint16_t fileSample);
uint16_t sixteenBitToFile(uint16_t value);
uint16_t eightBitToSixteen(uint16_t sample);

// Loads the effect library at `pluginPath`, brings the case's drawing in by
// re-set-up, renders the case's frame and returns it in PNG samples. Every
// step's failure, and any message the effect writes, is thrown as
// std::runtime_error. Afterwards the instance and the globals are set down
// and every host handle is checked to be released.
Frame renderCase(const ReferenceCase &c, const std::string &pluginPath, const std::string &dataDir);

// The saved block after a trip through the effect: handed over by re-set-up,
// then flattened again by the flatten command. Throws std::runtime_error.
std::vector<uint8_t> roundTripBlock(const std::vector<uint8_t> &block, const std::string &pluginPath);

// Every whole 32-bit word's bytes reversed: the block as a machine of the
// other byte order writes it.
std::vector<uint8_t> reverseWords(std::vector<uint8_t> block);

// The frame as raw bytes: "PNRF", width, height and depth as 32-bit
// little-endian words, then the samples as 16-bit little-endian words.
void writeRawFrame(const std::string &path, const Frame &frame);

struct Comparison {
    bool sameShape = true;
    int64_t differingPixels = 0;
    uint32_t largestDifference = 0;
    int32_t firstX = -1, firstY = -1;
    uint16_t firstActual[4] = {}, firstExpected[4] = {};
    bool identical() const { return sameShape && differingPixels == 0; }
    std::string describe() const;
};

// All four channels, colour included where alpha is 0.
Comparison compareFrames(const Frame &actual, const Frame &expected);

}  // namespace reference_frames
