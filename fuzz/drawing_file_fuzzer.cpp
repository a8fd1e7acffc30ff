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
#include "cli/core/errors.h"
#include "cli/drawings/drawing_file.h"

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
    // The tools accept exactly what the effect's reader opens (or refuses
    // only for its version).
    if (d.kind == DrawingFileKind::Block) {
        const pennaro::ReadStatus status = pennaro::inspectBlock(data, size).status;
        if (status != pennaro::ReadStatus::Read && status != pennaro::ReadStatus::OtherVersion)
            fail("the tools accepted a block the effect refuses");
    }
    // A big-endian mark with stray low bits opens, but nothing written from
    // it would open again: the tools refuse to convert it.
    const bool strayMark = pennaro::inspectBlock(d.block.data(), d.block.size()).otherByteOrder;
    std::string why = "JSON does not convert back to itself";
    try {
        const std::string text = formatDrawingJson(blockToJson(d.block, "input"));
        const std::vector<uint8_t> again = jsonToBlock(nlohmann::ordered_json::parse(text));
        if (formatDrawingJson(blockToJson(again, "again")) == text) why.clear();
    } catch (const ToolError &e) {
        why = std::string("an accepted drawing does not convert: ") + e.what();
    }
    if (strayMark != !why.empty()) fail(strayMark ? "a stray byte-order mark was converted" : why);
    (void)summarizeDrawing(d.block, d.fileByteOrder);
    return 0;
}
