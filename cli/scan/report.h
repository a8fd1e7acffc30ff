// What `pennaro scan` says of each block it finds, as a line of text and as
// JSON; `pennaro extract` writes the same records into its index.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/scan/container_search.h"

namespace pennaro_cli {

// Scans a file keeping the bytes of its drawings (and, with `allBytes`, of
// every candidate) and summarizing each drawing.
struct ScannedFile {
    std::string name;
    ScanResult result;
    std::vector<nlohmann::ordered_json> records;  // one per block, in file order
};
ScannedFile scanForReport(const std::string &name, bool allBytes, std::function<void(uint64_t)> progress);

// The record of one block (fields in docs/scan-format.md).
nlohmann::ordered_json scanRecord(const FoundBlock &block);
// One line for the terminal.
std::string scanLine(const nlohmann::ordered_json &record);

}  // namespace pennaro_cli
