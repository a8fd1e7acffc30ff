// Reading JSON that comes from outside: drawings in JSON form, --params
// keyframes and --prefs files.
//
// Such files may be hostile or simply broken, so the reader never trusts
// their shape: nesting is limited (a deep file would otherwise exhaust the
// stack in any recursive walk, copy or dump of the parsed value), duplicate
// keys are refused rather than silently resolved, numbers beyond the range
// the value is used in are refused, and every refusal names the file, the
// line and the path of the value, quoting at most a short prefix of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace pennaro_cli {

// Deeper than any file the tools write (a drawing nests four levels).
inline constexpr size_t JSON_MAX_DEPTH = 64;

// JSON read from a pipe or device has no size to check up front; reading
// stops here.
inline constexpr uint64_t JSON_STREAM_MAX_BYTES = uint64_t{256} << 20;

// How much of an untrusted text an error message quotes.
inline constexpr size_t JSON_QUOTE_LIMIT = 40;

struct JsonInputRules {
    // Every number must fit a 32-bit float (the drawing holds nothing else).
    bool floatRange = false;
};

// Parses `text` (a UTF-8 byte-order mark is skipped). Throws ToolError
// naming `name` for anything refused.
nlohmann::json parseJsonInput(std::string_view text, const std::string &name, JsonInputRules rules = {});
nlohmann::ordered_json parseOrderedJsonInput(std::string_view text, const std::string &name,
                                             JsonInputRules rules = {});

// "UTF-16" or "UTF-32" when the bytes start like JSON in one of those
// encodings (by byte-order mark or by the NUL bytes around the first
// characters), otherwise nullptr.
const char *wideJsonEncoding(const uint8_t *bytes, size_t size);

// 3 when the bytes start with a UTF-8 byte-order mark, else 0.
size_t utf8BomLength(const uint8_t *bytes, size_t size);

// At most `limit` bytes of `text`, with "..." when cut.
std::string boundedText(std::string_view text, size_t limit = JSON_QUOTE_LIMIT);

// A parsed value as a bounded quote for messages: scalars as written,
// containers only by their kind and size (never dumped whole).
std::string quoteJson(const nlohmann::json &value);
std::string quoteJson(const nlohmann::ordered_json &value);

}  // namespace pennaro_cli
