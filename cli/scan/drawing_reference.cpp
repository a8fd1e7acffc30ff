#include "cli/scan/drawing_reference.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <system_error>

#include "cli/core/errors.h"
#include "cli/scan/container_search.h"

namespace pennaro_cli {

using pennaro::BlockCandidate;
using pennaro::CandidateVerdict;

std::vector<uint8_t> drawingBytesAt(const std::filesystem::path &file, int number, const std::string &reference) {
    const std::string named = reference.empty() ? file.string() + "@" + std::to_string(number) : reference;
    if (number < 1) throw UsageError(named + ": drawings are numbered from 1");
    ScanSettings settings;
    settings.maxBlockBytes = scanBlockLimit();
    settings.keep = [](const BlockCandidate &c) { return c.verdict == CandidateVerdict::Drawing; };
    ScanResult found = scanFile(file, settings);
    for (auto &b : found.blocks)
        if (b.number == number) return std::move(b.bytes);
    throw ToolError(named + ": " + file.string() + " holds " +
                    (found.drawings == 0 ? "no drawing the effect opens"
                                         : found.drawings == 1 ? "only 1 drawing"
                                                               : "only " + std::to_string(found.drawings) + " drawings") +
                    " (see pennaro scan)");
}

bool splitDrawingReference(const std::string &given, std::filesystem::path &file, int &number) {
    std::error_code ec;
    if (given.empty() || std::filesystem::exists(given, ec)) return false;
    const size_t at = given.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 >= given.size()) return false;
    const char *first = given.data() + at + 1, *last = given.data() + given.size();
    if (!std::all_of(first, last, [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
        return false;
    // A number past any int is past any file's drawing count too: it still
    // names a drawing of the file, one the file does not hold.
    int n = 0;
    if (std::from_chars(first, last, n).ec == std::errc::result_out_of_range) n = std::numeric_limits<int>::max();
    const std::filesystem::path candidate = given.substr(0, at);
    if (!std::filesystem::exists(candidate, ec)) return false;
    file = candidate;
    number = n;
    return true;
}

std::vector<uint8_t> readDrawingBytes(const std::filesystem::path &path) {
    std::filesystem::path container;
    int number = 0;
    if (splitDrawingReference(path.string(), container, number))
        return drawingBytesAt(container, number, path.string());
    return readDrawingFileBytes(path);
}

LoadedDrawing loadDrawingFile(const std::filesystem::path &path) {
    return loadDrawingBytes(readDrawingBytes(path), path.string());
}

}  // namespace pennaro_cli
