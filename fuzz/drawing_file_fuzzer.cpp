// Feeds arbitrary bytes to the tools' drawing-file reader (blocks in either
// byte order, and JSON). Whatever it accepts is a block the effect's reader
// takes (or refuses only for its version); it converts to JSON and back, and
// that JSON converts back to itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/block.h"
#include "lib/common.h"
#include "lib/drawing_file.h"

namespace {

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "drawing file fuzzer: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace pennaro_cli;
    const std::vector<uint8_t> bytes(data, data + size);
    LoadedDrawing d;
    try {
        d = loadDrawingBytes(bytes, "input");
    } catch (const ToolError &) {
        return 0;
    }
    // A big-endian mark with stray low bits is kept as it is, so the loaded
    // block then reads as the other byte order; such a block is held only to
    // not crashing the tools.
    const pennaro::BlockInspection seen = pennaro::inspectBlock(d.block.data(), d.block.size());
    const bool strayMark = seen.otherByteOrder;
    if (!strayMark && seen.status != pennaro::ReadStatus::Read && seen.status != pennaro::ReadStatus::OtherVersion)
        fail("the tools accepted a block the effect refuses");
    std::string why = "JSON does not convert back to itself";
    try {
        const std::string text = formatDrawingJson(blockToJson(d.block, "input"));
        const std::vector<uint8_t> again = jsonToBlock(nlohmann::ordered_json::parse(text));
        if (formatDrawingJson(blockToJson(again, "again")) == text) why.clear();
    } catch (const ToolError &e) {
        why = std::string("an accepted drawing does not convert: ") + e.what();
    }
    if (!why.empty() && !strayMark) fail(why);
    (void)summarizeDrawing(d.block, d.fileByteOrder);
    return 0;
}
