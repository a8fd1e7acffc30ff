#include "cli/core/json_reader.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <unordered_set>
#include <vector>

#include "cli/core/errors.h"

namespace pennaro_cli {

namespace {

// Walks the text for the parser and remembers how far it got, so a value
// refused while it is being read can be given a line number.
struct TrackingIterator {
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    const char *at = nullptr;
    const char **furthest = nullptr;

    reference operator*() const { return *at; }
    TrackingIterator &operator++() {
        ++at;
        if (at > *furthest) *furthest = at;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const TrackingIterator &other) const { return at == other.at; }
    bool operator!=(const TrackingIterator &other) const { return at != other.at; }
};

template <class Json>
std::string quoteValue(const Json &v) {
    if (v.is_object()) return "an object of " + std::to_string(v.size()) + " keys";
    if (v.is_array()) return "an array of " + std::to_string(v.size()) + " values";
    if (v.is_string()) return "\"" + boundedText(v.template get_ref<const std::string &>()) + "\"";
    return boundedText(v.dump());  // a scalar: short, and not recursive
}

// Builds the value like nlohmann's own DOM parser, but keeps the path of
// what is being read and refuses what the rules forbid, before it is built.
template <class Json>
class CheckedBuilder {
public:
    using string_t = typename Json::string_t;
    using binary_t = typename Json::binary_t;

    CheckedBuilder(std::string_view text, const char **furthest, JsonInputRules rules)
        : text_(text), furthest_(furthest), rules_(rules) {}

    Json root;
    std::string problem;  // set when the parse stopped

    bool null() { return place(Json(nullptr)) != nullptr; }
    bool boolean(bool b) { return place(Json(b)) != nullptr; }
    bool number_integer(typename Json::number_integer_t n) { return place(Json(n)) != nullptr; }
    bool number_unsigned(typename Json::number_unsigned_t n) { return place(Json(n)) != nullptr; }
    bool number_float(typename Json::number_float_t d, const string_t &written) {
        // Halfway between the largest float and the next power of two: from
        // there on a narrowing rounds to infinity.
        if (rules_.floatRange && std::fabs(d) >= 3.4028235677973366e38)
            return refuse(lineAt(*furthest_), "number " + boundedText(written) + " at " + path() +
                                                  " is too large for a 32-bit float (write an infinity as its "
                                                  "bit pattern, \"0x7f800000\")");
        return place(Json(d)) != nullptr;
    }
    bool string(string_t &s) { return place(Json(std::move(s))) != nullptr; }
    bool binary(binary_t &) { return refuse(lineAt(*furthest_), "binary value at " + path()); }

    bool start_object(size_t) { return open(Json::value_t::object); }
    bool start_array(size_t) { return open(Json::value_t::array); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }

    bool key(string_t &k) {
        Frame &f = frames_.back();
        if (!f.keys.insert(k).second) {
            f.key = std::move(k);
            return refuse(lineAt(*furthest_), "duplicate key at " + path());
        }
        f.key = std::move(k);
        return true;
    }

    bool parse_error(size_t position, const std::string &token, const nlohmann::detail::exception &e) {
        const size_t line = lineAt(text_.data() + std::min(position, text_.size()));
        if (e.id == 406)  // the number does not fit a double at all
            return refuse(line, "number " + boundedText(token) + " at " + path() + " is out of range");
        // The library's text says what was expected; drop its own prefix and
        // the position (given here as a line), and keep it short.
        std::string what = e.what();
        const size_t colon = what.find(": ", what.find("column"));
        if (colon != std::string::npos) what = what.substr(colon + 2);
        return refuse(line, "not valid JSON: " + boundedText(what, 160));
    }

private:
    struct Frame {
        Json *value;
        size_t count = 0;  // elements or keys placed so far
        std::string key;   // the key being read, in an object
        std::unordered_set<std::string> keys;
    };

    std::string_view text_;
    const char **furthest_;
    JsonInputRules rules_;
    std::vector<Frame> frames_;

    size_t lineAt(const char *end) const {
        const char *from = text_.data();
        if (end < from) end = from;
        if (end > from + text_.size()) end = from + text_.size();
        return 1 + static_cast<size_t>(std::count(from, end, '\n'));
    }

    bool refuse(size_t line, const std::string &what) {
        problem = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    // The value being read: the keys and indices leading to it, bounded.
    std::string path() const {
        constexpr size_t SHOWN = 8;
        std::string out;
        for (size_t i = 0; i < frames_.size(); ++i) {
            if (i == SHOWN) {
                out += "... (" + std::to_string(frames_.size()) + " levels deep)";
                break;
            }
            const Frame &f = frames_[i];
            const bool last = i + 1 == frames_.size();
            if (f.value->is_array()) {
                out += '[';
                out += std::to_string(last ? f.count : f.count - 1);
                out += ']';
            } else {
                if (!out.empty()) out += ".";
                out += boundedText(f.key);
            }
        }
        return out.empty() ? "the top level" : out;
    }

    Json *place(Json &&v) {
        if (frames_.empty()) {
            root = std::move(v);
            return &root;
        }
        Frame &f = frames_.back();
        ++f.count;
        if (f.value->is_array()) {
            auto &a = *f.value->template get_ptr<typename Json::array_t *>();
            a.push_back(std::move(v));
            return &a.back();
        }
        auto &o = *f.value->template get_ptr<typename Json::object_t *>();
        // Keys are known to be new (see key()); the ordered object would
        // search all of them again.
        if constexpr (std::is_same_v<Json, nlohmann::ordered_json>) {
            auto &items = static_cast<typename Json::object_t::Container &>(o);
            items.emplace_back(f.key, std::move(v));
            return &items.back().second;
        } else {
            return &o.emplace_hint(o.end(), f.key, std::move(v))->second;
        }
    }

    bool open(typename Json::value_t kind) {
        if (frames_.size() >= JSON_MAX_DEPTH)
            return refuse(lineAt(*furthest_), "nested deeper than " + std::to_string(JSON_MAX_DEPTH) +
                                                  " levels at " + path());
        Json *slot = place(Json(kind));
        frames_.push_back(Frame{slot, 0, {}, {}});
        return true;
    }

    bool close() {
        frames_.pop_back();
        return true;
    }
};

template <class Json>
Json parseChecked(std::string_view text, const std::string &name, JsonInputRules rules) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
    if (const char *wide = wideJsonEncoding(bytes, text.size()))
        throw ToolError(name + ": JSON in " + wide + "; only UTF-8 is read (save it as UTF-8)");
    text.remove_prefix(utf8BomLength(bytes, text.size()));
    const char *furthest = text.data();
    CheckedBuilder<Json> builder(text, &furthest, rules);
    TrackingIterator first{text.data(), &furthest}, last{text.data() + text.size(), &furthest};
    if (!Json::sax_parse(first, last, &builder)) {
        if (builder.problem.empty()) builder.problem = "not valid JSON";
        throw ToolError(name + ": " + builder.problem);
    }
    return std::move(builder.root);
}

}  // namespace

nlohmann::json parseJsonInput(std::string_view text, const std::string &name, JsonInputRules rules) {
    return parseChecked<nlohmann::json>(text, name, rules);
}

nlohmann::ordered_json parseOrderedJsonInput(std::string_view text, const std::string &name, JsonInputRules rules) {
    return parseChecked<nlohmann::ordered_json>(text, name, rules);
}

const char *wideJsonEncoding(const uint8_t *b, size_t n) {
    if (n >= 4 && ((b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) ||
                   (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0)))
        return "UTF-32";
    if (n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE))) return "UTF-16";
    // Without a mark: the first two characters are ASCII, so their NUL bytes
    // give the encoding away (a saved block never starts this way: its second
    // word is the byte-order mark).
    auto ascii = [](uint8_t c) { return c != 0 && c < 0x80; };
    if (n >= 8 && ((b[0] == 0 && b[1] == 0 && b[2] == 0 && ascii(b[3]) && b[4] == 0 && b[5] == 0 && b[6] == 0 &&
                    ascii(b[7])) ||
                   (ascii(b[0]) && b[1] == 0 && b[2] == 0 && b[3] == 0 && ascii(b[4]) && b[5] == 0 && b[6] == 0 &&
                    b[7] == 0)))
        return "UTF-32";
    if (n >= 4 && ((b[0] == 0 && ascii(b[1]) && b[2] == 0 && ascii(b[3])) ||
                   (ascii(b[0]) && b[1] == 0 && ascii(b[2]) && b[3] == 0)))
        return "UTF-16";
    return nullptr;
}

size_t utf8BomLength(const uint8_t *b, size_t n) {
    return n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF ? 3 : 0;
}

std::string boundedText(std::string_view text, size_t limit) {
    if (text.size() <= limit) return std::string(text);
    return std::string(text.substr(0, limit)) + "...";
}

std::string quoteJson(const nlohmann::json &value) { return quoteValue(value); }
std::string quoteJson(const nlohmann::ordered_json &value) { return quoteValue(value); }

}  // namespace pennaro_cli
