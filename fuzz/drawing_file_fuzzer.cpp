// Feeds arbitrary bytes to the tools' drawing-file reader (blocks in either
// byte order and JSON). Whatever it accepts must convert to JSON and back,
// and that JSON must convert back to itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lib/common.h"
#include "lib/drawing_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace pennaro_cli;
    const std::vector<uint8_t> bytes(data, data + size);
    LoadedDrawing d;
    try {
        d = loadDrawingBytes(bytes, "input");
    } catch (const ToolError &) {
        return 0;
    }
    const auto json = blockToJson(d.block, "input");
    const std::string text = formatDrawingJson(json);
    const std::vector<uint8_t> again = jsonToBlock(nlohmann::ordered_json::parse(text));
    if (formatDrawingJson(blockToJson(again, "again")) != text) {
        std::fprintf(stderr, "drawing file fuzzer: JSON does not convert back to itself\n");
        std::abort();
    }
    (void)summarizeDrawing(d.block, d.fileByteOrder);
    return 0;
}
