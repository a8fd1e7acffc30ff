#include "cli/vector/svg_import.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include <pugixml.hpp>

#include "cli/core/errors.h"
#include "cli/vector/svg_paths.h"

namespace pennaro_cli::vector {
namespace {

std::string trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The element's name without a namespace prefix ("svg:path" is "path").
std::string localName(const pugi::xml_node &node) {
    const char *name = node.name();
    const char *colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

// ---- colours

struct Colour {
    bool none = true;
    double rgb[3] = {0, 0, 0};
};

bool parseColour(const std::string &text, Colour &out) {
    static const std::map<std::string, uint32_t> names = {
        {"black", 0x000000}, {"white", 0xffffff}, {"red", 0xff0000}, {"green", 0x008000}, {"lime", 0x00ff00},
        {"blue", 0x0000ff}, {"yellow", 0xffff00}, {"cyan", 0x00ffff}, {"aqua", 0x00ffff}, {"magenta", 0xff00ff},
        {"fuchsia", 0xff00ff}, {"gray", 0x808080}, {"grey", 0x808080}, {"silver", 0xc0c0c0}, {"maroon", 0x800000},
        {"olive", 0x808000}, {"navy", 0x000080}, {"purple", 0x800080}, {"teal", 0x008080}, {"orange", 0xffa500},
        {"brown", 0xa52a2a}, {"pink", 0xffc0cb}, {"gold", 0xffd700}, {"darkgray", 0xa9a9a9}, {"darkgrey", 0xa9a9a9},
        {"lightgray", 0xd3d3d3}, {"lightgrey", 0xd3d3d3}, {"indigo", 0x4b0082}, {"violet", 0xee82ee}};
    const std::string t = lower(trim(text));
    out = Colour{};
    if (t == "none" || t == "transparent") return true;
    uint32_t v = 0;
    auto set = [&](uint32_t rgb) {
        out.none = false;
        for (int i = 0; i < 3; ++i) out.rgb[i] = ((rgb >> (16 - 8 * i)) & 0xff) / 255.0;
        return true;
    };
    if (!t.empty() && t[0] == '#') {
        const std::string h = t.substr(1);
        if (h.size() != 3 && h.size() != 6) return false;
        for (char c : h)
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = static_cast<uint32_t>(std::stoul(h, nullptr, 16));
        if (h.size() == 3) v = ((v & 0xf00) * 0x1100) | ((v & 0xf0) * 0x110) | ((v & 0xf) * 0x11);
        return set(v);
    }
    if (t.rfind("rgb(", 0) == 0 && t.back() == ')') {
        std::string inner = t.substr(4, t.size() - 5);
        const bool percent = inner.find('%') != std::string::npos;
        inner.erase(std::remove(inner.begin(), inner.end(), '%'), inner.end());
        std::vector<double> c;
        try {
            c = parseNumberList(inner, "colour");
        } catch (const SvgDataError &) {
            return false;
        }
        if (c.size() != 3) return false;
        out.none = false;
        for (int i = 0; i < 3; ++i) out.rgb[i] = std::clamp(percent ? c[i] / 100 : c[i] / 255, 0.0, 1.0);
        return true;
    }
    const auto it = names.find(t);
    if (it == names.end()) return false;
    return set(it->second);
}

// ---- styles

// The properties an import reads, as declared on one element.
using Declarations = std::map<std::string, std::string>;

const std::set<std::string> &knownProperties() {
    static const std::set<std::string> names = {"stroke", "stroke-width", "stroke-opacity", "opacity", "fill",
                                                "stroke-dasharray", "display", "visibility", "color"};
    return names;
}

void parseDeclarations(std::string_view text, Declarations &into) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view item = text.substr(pos, end - pos);
        const size_t colon = item.find(':');
        if (colon != std::string_view::npos) {
            const std::string key = lower(trim(item.substr(0, colon)));
            std::string value = trim(item.substr(colon + 1));
            const size_t bang = value.find("!important");
            if (bang != std::string::npos) value = trim(value.substr(0, bang));
            if (knownProperties().count(key)) into[key] = value;
        }
        pos = end + 1;
    }
}

// A rule of a <style> sheet whose selector is one compound: a tag, classes
// and an id ("path", ".outline", "circle.dot#eye").
struct Rule {
    std::string tag, id;
    std::vector<std::string> classes;
    int specificity = 0;
    size_t order = 0;
    Declarations declarations;
};

bool matches(const Rule &rule, const std::string &tag, const std::string &id, const std::vector<std::string> &classes) {
    if (!rule.tag.empty() && rule.tag != "*" && rule.tag != tag) return false;
    if (!rule.id.empty() && rule.id != id) return false;
    for (const std::string &c : rule.classes)
        if (std::find(classes.begin(), classes.end(), c) == classes.end()) return false;
    return true;
}

// Reads a style sheet; selectors with combinators or pseudo-classes are
// counted and left out.
void parseStyleSheet(std::string text, std::vector<Rule> &rules, size_t &skipped) {
    for (size_t a; (a = text.find("/*")) != std::string::npos;) {
        const size_t b = text.find("*/", a + 2);
        text.erase(a, b == std::string::npos ? std::string::npos : b + 2 - a);
    }
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('{', pos);
        if (open == std::string::npos) break;
        const size_t close = text.find('}', open);
        if (close == std::string::npos) break;
        const std::string selectors = trim(std::string_view(text).substr(pos, open - pos));
        const std::string body = text.substr(open + 1, close - open - 1);
        pos = close + 1;
        if (!selectors.empty() && selectors[0] == '@') {
            // An at-rule's block may nest: skip to its matching brace.
            int depth = 1;
            size_t p = open + 1;
            for (; p < text.size() && depth > 0; ++p) depth += text[p] == '{' ? 1 : text[p] == '}' ? -1 : 0;
            pos = p;
            continue;
        }
        Declarations declarations;
        parseDeclarations(body, declarations);
        size_t start = 0;
        while (start <= selectors.size()) {
            size_t comma = selectors.find(',', start);
            if (comma == std::string::npos) comma = selectors.size();
            const std::string one = trim(std::string_view(selectors).substr(start, comma - start));
            start = comma + 1;
            if (one.empty()) continue;
            if (one.find_first_of(" \t\n>+~:[") != std::string::npos) {
                ++skipped;
                continue;
            }
            Rule rule;
            size_t i = 0;
            auto word = [&]() {
                const size_t b = i;
                while (i < one.size() && one[i] != '.' && one[i] != '#') ++i;
                return one.substr(b, i - b);
            };
            rule.tag = word();
            while (i < one.size()) {
                const char kind = one[i++];
                const std::string w = word();
                if (kind == '.') rule.classes.push_back(w), rule.specificity += 10;
                else rule.id = w, rule.specificity += 100;
            }
            if (!rule.tag.empty() && rule.tag != "*") rule.specificity += 1;
            rule.order = rules.size();
            rule.declarations = declarations;
            rules.push_back(std::move(rule));
        }
    }
}

// What a shape is drawn with, after inheritance.
struct Style {
    Colour stroke;
    bool strokeIsCurrentColour = false;
    double strokeWidth = 1;
    double strokeOpacity = 1;
    double opacity = 1;  // the product over the element and its groups
    bool filled = true;  // fill is black unless said otherwise
    bool dashed = false;
    bool visible = true;
    Colour color;
};

// ---- the walk

struct Stroke {
    std::vector<Point> points;  // layer pixels
    double length = 0;
    double radius = 1;
    double rgb[3] = {0, 0, 0};
    double opacity = 1;
};

class Importer {
public:
    Importer(std::string_view bytes, const std::string &name) : bytes_(bytes), name_(name) {}

    [[noreturn]] void fail(const pugi::xml_node &node, const std::string &what) const {
        throw ToolError(name_ + ":" + std::to_string(lineOf(node.offset_debug())) + ": <" + localName(node) +
                        ">: " + what);
    }
    int64_t lineOf(ptrdiff_t offset) const {
        if (offset < 0) return 0;
        const size_t end = std::min(bytes_.size(), static_cast<size_t>(offset));
        return 1 + std::count(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(end), '\n');
    }

    void readSheets(const pugi::xml_node &root) {
        for (const pugi::xml_node &node : collect(root)) {
            if (localName(node) == "style") {
                std::string text;
                for (const pugi::xml_node &child : node.children()) text += child.value();
                parseStyleSheet(text, rules_, report.complexSelectors);
                if (rules_.size() > SVG_MAX_STYLE_RULES)
                    fail(node, "more than " + std::to_string(SVG_MAX_STYLE_RULES) + " style rules");
            }
            const char *id = node.attribute("id").value();
            if (*id && !ids_.count(id)) ids_[id] = node;
        }
        std::stable_sort(rules_.begin(), rules_.end(), [](const Rule &a, const Rule &b) {
            return a.specificity < b.specificity || (a.specificity == b.specificity && a.order < b.order);
        });
    }

    // Every element in document order, without recursion (the depth check
    // comes with the walk).
    static std::vector<pugi::xml_node> collect(const pugi::xml_node &root) {
        std::vector<pugi::xml_node> all;
        pugi::xml_node n = root;
        while (n) {
            if (n.type() == pugi::node_element) all.push_back(n);
            if (n.first_child()) {
                n = n.first_child();
                continue;
            }
            while (n && n != root && !n.next_sibling()) n = n.parent();
            if (!n || n == root) break;
            n = n.next_sibling();
        }
        return all;
    }

    Style styleOf(const pugi::xml_node &node, const Style &parent) {
        Declarations d;
        for (const pugi::xml_attribute &a : node.attributes())
            if (knownProperties().count(a.name())) d[a.name()] = a.value();
        const std::string tag = localName(node), id = node.attribute("id").value();
        std::vector<std::string> classes;
        {
            const std::string all = node.attribute("class").value();
            size_t p = 0;
            while (p < all.size()) {
                const size_t b = all.find_first_not_of(" \t\n\r", p);
                if (b == std::string::npos) break;
                const size_t e = all.find_first_of(" \t\n\r", b);
                classes.push_back(all.substr(b, e == std::string::npos ? std::string::npos : e - b));
                p = e == std::string::npos ? all.size() : e;
            }
        }
        for (const Rule &r : rules_)
            if (matches(r, tag, id, classes))
                for (const auto &[k, v] : r.declarations) d[k] = v;
        parseDeclarations(node.attribute("style").value(), d);

        Style s = parent;
        s.opacity = parent.opacity;
        auto number = [&](const std::string &key, double &into, double lo, double hi) {
            const auto it = d.find(key);
            if (it == d.end() || it->second == "inherit") return;
            std::string v = it->second;
            double scale = 1;
            if (!v.empty() && v.back() == '%') {
                v.pop_back();
                scale = 0.01;
            }
            try {
                into = std::clamp(parseLength(v, key) * scale, lo, hi);
            } catch (const SvgDataError &e) {
                fail(node, e.what());
            }
        };
        auto colour = [&](const std::string &key, Colour &into, bool *current) {
            const auto it = d.find(key);
            if (it == d.end() || it->second == "inherit") return;
            if (lower(trim(it->second)) == "currentcolor") {
                if (current) *current = true;
                into = s.color;
                return;
            }
            if (current) *current = false;
            // Gradients and patterns are drawn in the colour given as their
            // fallback, else black.
            std::string v = trim(it->second);
            if (v.rfind("url(", 0) == 0) {
                const size_t close = v.find(')');
                v = close == std::string::npos ? "black" : trim(v.substr(close + 1));
                if (v.empty()) v = "black";
            }
            if (!parseColour(v, into)) fail(node, key + ": colour not understood: '" + it->second.substr(0, 40) + "'");
        };
        colour("color", s.color, nullptr);
        colour("stroke", s.stroke, &s.strokeIsCurrentColour);
        if (s.strokeIsCurrentColour && !d.count("stroke")) s.stroke = s.color;
        number("stroke-width", s.strokeWidth, 0, SVG_MAX_COORDINATE);
        number("stroke-opacity", s.strokeOpacity, 0, 1);
        double own = 1;
        number("opacity", own, 0, 1);
        s.opacity = parent.opacity * own;
        if (d.count("fill")) {
            Colour f;
            colour("fill", f, nullptr);
            s.filled = !f.none;
        }
        if (d.count("stroke-dasharray")) {
            const std::string v = lower(trim(d["stroke-dasharray"]));
            s.dashed = !(v == "none" || v.empty() || v == "0");
        }
        if (d.count("visibility")) s.visible = lower(trim(d["visibility"])) == "visible";
        if (d.count("display") && lower(trim(d["display"])) == "none") s.visible = false, hidden_ = true;
        return s;
    }

    double attr(const pugi::xml_node &node, const char *key, double fallback = 0) {
        const pugi::xml_attribute a = node.attribute(key);
        if (!a) return fallback;
        try {
            return parseLength(a.value(), key);
        } catch (const SvgDataError &e) {
            fail(node, e.what());
        }
    }

    void walk(const pugi::xml_node &node, const Matrix &ctm, const Style &parent, int depth, int useDepth) {
        if (depth > SVG_MAX_DEPTH) fail(node, "elements nest deeper than " + std::to_string(SVG_MAX_DEPTH) + " levels");
        if (++elements_ > SVG_MAX_ELEMENTS)
            fail(node, "the art has more than " + std::to_string(SVG_MAX_ELEMENTS) + " elements to draw");
        const std::string tag = localName(node);
        static const std::set<std::string> notDrawn = {
            "defs", "symbol", "clipPath", "mask", "marker", "pattern", "linearGradient", "radialGradient",
            "title", "desc", "metadata", "style", "script", "filter", "foreignObject"};
        if (notDrawn.count(tag) && !(tag == "symbol" && useDepth > 0 && node == useTarget_)) return;
        hidden_ = false;
        const Style style = styleOf(node, parent);
        if (hidden_) return;
        Matrix m = ctm;
        if (const pugi::xml_attribute t = node.attribute("transform")) {
            try {
                m = ctm * parseTransform(t.value());
            } catch (const SvgDataError &e) {
                fail(node, e.what());
            }
        }
        if (tag == "g" || tag == "svg" || tag == "a" || tag == "switch" || tag == "symbol") {
            if (tag == "svg" && depth > 0) m = m * Matrix{1, 0, 0, 1, attr(node, "x"), attr(node, "y")};
            for (const pugi::xml_node &child : node.children())
                if (child.type() == pugi::node_element) walk(child, m, style, depth + 1, useDepth);
            return;
        }
        if (tag == "use") {
            std::string href = node.attribute("href").value();
            if (href.empty()) href = node.attribute("xlink:href").value();
            if (href.empty() || href[0] != '#') {
                ++report.external;
                return;
            }
            const auto it = ids_.find(href.substr(1));
            if (it == ids_.end()) fail(node, "refers to '" + href.substr(0, 40) + "', which is not in the file");
            if (useDepth >= 16) fail(node, "<use> elements refer through more than 16 levels (or to themselves)");
            m = m * Matrix{1, 0, 0, 1, attr(node, "x"), attr(node, "y")};
            const pugi::xml_node saved = useTarget_;
            useTarget_ = it->second;
            walk(it->second, m, style, depth + 1, useDepth + 1);
            useTarget_ = saved;
            return;
        }
        std::vector<Polyline> lines;
        const double scale = m.scale();
        try {
            if (tag == "path") {
                lines = parsePathData(node.attribute("d").value(), scale, budget_);
            } else if (tag == "line") {
                lines.push_back({{attr(node, "x1"), attr(node, "y1")}, {attr(node, "x2"), attr(node, "y2")}});
            } else if (tag == "polyline" || tag == "polygon") {
                const std::vector<double> v = parseNumberList(node.attribute("points").value(), "points");
                Polyline line;
                for (size_t i = 0; i + 1 < v.size(); i += 2) line.push_back({v[i], v[i + 1]});
                if (tag == "polygon" && line.size() > 2) line.push_back(line.front());
                if (line.size() > 1) lines.push_back(std::move(line));
            } else if (tag == "rect") {
                const double x = attr(node, "x"), y = attr(node, "y"), w = attr(node, "width"), h = attr(node, "height");
                if (w > 0 && h > 0) lines.push_back({{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}, {x, y}});
            } else if (tag == "circle" || tag == "ellipse") {
                const double r = attr(node, "r");
                const double rx = tag == "circle" ? r : attr(node, "rx"), ry = tag == "circle" ? r : attr(node, "ry");
                if (rx > 0 && ry > 0) lines.push_back(ellipseOutline(attr(node, "cx"), attr(node, "cy"), rx, ry, scale, budget_));
            } else {
                if (tag == "text" || tag == "image" || tag == "tspan") ++report.unsupported;
                return;
            }
        } catch (const SvgDataError &e) {
            fail(node, e.what());
        }
        const bool stroked = !style.stroke.none && style.strokeWidth > 0;
        if (!stroked) {
            if (style.filled && !lines.empty()) ++report.filledOnly;
            return;
        }
        if (style.dashed) {
            ++report.dashed;
            return;
        }
        if (!style.visible || style.opacity * style.strokeOpacity <= 0) return;
        for (const Polyline &line : lines) {
            Stroke s;
            for (const Point &p : line) {
                const Point q = m.apply(p);
                if (!(std::fabs(q.x) <= 1e9 && std::fabs(q.y) <= 1e9))
                    fail(node, "its transforms carry it beyond any layer (a coordinate of " +
                                   std::to_string(q.x) + ", " + std::to_string(q.y) + " pixels)");
                s.points.push_back(q);
            }
            for (size_t i = 1; i < s.points.size(); ++i)
                s.length += std::hypot(s.points[i].x - s.points[i - 1].x, s.points[i].y - s.points[i - 1].y);
            s.radius = brushRadius(style.strokeWidth * scale);
            std::copy(style.stroke.rgb, style.stroke.rgb + 3, s.rgb);
            s.opacity = style.opacity * style.strokeOpacity;
            strokes.push_back(std::move(s));
        }
    }

    // The round kernel's half-coverage line lies inside its radius R:
    // at d² = R² - 1.175 R + 1 for a hard brush (a rim of one pixel whose
    // falloff is cubed). Solving for d = width / 2 gives a painted line as
    // wide as the art's.
    static double brushRadius(double width) {
        const double half = width / 2;
        const double disc = 1.175 * 1.175 - 4 * (1 - half * half);
        if (disc <= 0) return 1.0;
        return std::max(1.0, (1.175 + std::sqrt(disc)) / 2);
    }

    ImportReport report;
    std::vector<Stroke> strokes;

private:
    std::string_view bytes_;
    std::string name_;
    std::vector<Rule> rules_;
    std::map<std::string, pugi::xml_node> ids_;
    PathBudget budget_{SVG_MAX_COMMANDS, SVG_MAX_POINTS};
    size_t elements_ = 0;
    bool hidden_ = false;
    pugi::xml_node useTarget_;
};

nlohmann::ordered_json brushJson(const double rgb[3], double opacity, double size) {
    return {{"red", rgb[0]}, {"green", rgb[1]}, {"blue", rgb[2]}, {"opacity", opacity}, {"size", size},
            {"brushMode", 1}, {"softness", 0.0}, {"pressureFlags", 0}};
}

double rounded(double v, double unit) { return std::round(v / unit) * unit; }

}  // namespace

ImportReport importSvg(std::string_view bytes, const std::string &name, const ImportSettings &settings) {
    if (bytes.size() > SVG_MAX_BYTES)
        throw ToolError(name + ": larger than " + std::to_string(SVG_MAX_BYTES >> 20) + " MiB; not read");
    pugi::xml_document doc;
    // Character references and the five predefined entities only: a
    // document's own entities are never expanded, nothing is fetched.
    const unsigned options = pugi::parse_default | pugi::parse_doctype;
    const pugi::xml_parse_result parsed = doc.load_buffer(bytes.data(), bytes.size(), options, pugi::encoding_utf8);
    Importer importer(bytes, name);
    if (!parsed)
        throw ToolError(name + ":" + std::to_string(importer.lineOf(parsed.offset)) + ": not well-formed XML: " +
                        parsed.description());
    for (const pugi::xml_node &n : doc.children())
        if (n.type() == pugi::node_doctype && std::strstr(n.value(), "<!ENTITY"))
            throw ToolError(name + ":" + std::to_string(importer.lineOf(n.offset_debug())) +
                            ": the document declares entities; they are not expanded, so it is not read");
    const pugi::xml_node root = doc.document_element();
    if (!root || localName(root) != "svg")
        throw ToolError(name + ": not SVG: the document element is <" + std::string(root ? root.name() : "") +
                        ">, not <svg>");
    importer.readSheets(root);

    // The art's own size: width and height, else the view box.
    std::vector<double> box;
    if (const pugi::xml_attribute vb = root.attribute("viewBox")) {
        try {
            box = parseNumberList(vb.value(), "viewBox");
        } catch (const SvgDataError &e) {
            importer.fail(root, e.what());
        }
        if (box.size() != 4 || !(box[2] > 0) || !(box[3] > 0))
            importer.fail(root, "viewBox needs four numbers, the last two above 0");
    }
    auto length = [&](const char *key) -> double {
        const std::string v = root.attribute(key).value();
        if (v.empty() || v.back() == '%') return 0;
        return importer.attr(root, key);
    };
    double artW = length("width"), artH = length("height");
    if (!(artW > 0)) artW = box.empty() ? 0 : box[2];
    if (!(artH > 0)) artH = box.empty() ? 0 : box[3];
    std::array<int32_t, 2> size{1920, 1080};
    if (settings.size)
        size = *settings.size;
    else if (artW >= 1 && artH >= 1 && artW <= 30000 && artH <= 30000)
        size = {static_cast<int32_t>(std::lround(artW)), static_cast<int32_t>(std::lround(artH))};
    // The view box (else the art's size) fitted to the layer, centred,
    // scaled alike in both directions unless preserveAspectRatio is none.
    Matrix view;
    {
        const double bx = box.empty() ? 0 : box[0], by = box.empty() ? 0 : box[1];
        const double bw = box.empty() ? (artW > 0 ? artW : size[0]) : box[2];
        const double bh = box.empty() ? (artH > 0 ? artH : size[1]) : box[3];
        double sx = size[0] / bw, sy = size[1] / bh;
        const std::string aspect = trim(root.attribute("preserveAspectRatio").value());
        if (aspect != "none") sx = sy = std::min(sx, sy);
        view = Matrix{sx, 0, 0, sy, (size[0] - bw * sx) / 2 - bx * sx, (size[1] - bh * sy) / 2 - by * sy};
    }
    importer.walk(root, view, Style{}, 0, 0);

    ImportReport report = importer.report;
    report.width = size[0];
    report.height = size[1];
    double total = 0;
    for (const Stroke &s : importer.strokes) total += s.length;
    const size_t n = importer.strokes.size();
    double speed = settings.speed;
    if (settings.duration > 0 && n > 0) {
        const double drawing = settings.duration - settings.gap * static_cast<double>(n - 1);
        if (!(drawing > 0))
            throw UsageError("import: --duration " + std::to_string(settings.duration) + " s leaves no time to draw " +
                             std::to_string(n) + " strokes with --gap " + std::to_string(settings.gap) +
                             " s between them; lower --gap");
        speed = std::max(total, 1e-3) / drawing;
    }
    report.speed = speed;

    nlohmann::ordered_json strokes = nlohmann::ordered_json::array();
    double start = 0;
    const double w = size[0], h = size[1];
    for (size_t k = 0; k < n; ++k) {
        const Stroke &s = importer.strokes[k];
        nlohmann::ordered_json brush = brushJson(s.rgb, s.opacity, rounded(s.radius, 1e-3));
        for (const auto &[key, value] : settings.brush.items()) brush[key] = value;
        // Samples every SAMPLE_SPACING pixels along the outline, its
        // corners kept, the end given twice.
        nlohmann::ordered_json points = nlohmann::ordered_json::array();
        auto sample = [&](double along, Point p) {
            if (++report.samples > SVG_MAX_SAMPLES)
                throw ToolError(name + ": the art needs more than " + std::to_string(SVG_MAX_SAMPLES) +
                                " samples at this size; give a smaller --size");
            points.push_back({rounded(along / speed, 1e-6), rounded(p.x / w, 1e-7), rounded(p.y / h, 1e-7), 1.0});
        };
        double along = 0, next = 0;
        for (size_t i = 0; i + 1 < s.points.size(); ++i) {
            const Point a = s.points[i], b = s.points[i + 1];
            const double seg = std::hypot(b.x - a.x, b.y - a.y);
            while (next <= along + seg) {
                const double t = seg > 0 ? (next - along) / seg : 0;
                sample(next, {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
                next += SAMPLE_SPACING;
            }
            along += seg;
        }
        sample(along, s.points.back());
        sample(along, s.points.back());
        const double duration = rounded(along / speed, 1e-6);
        strokes.push_back({{"strokeId", static_cast<int64_t>(k)}, {"startTime", rounded(start, 1e-6)},
                           {"duration", duration}, {"brush", brush}, {"drawCount", 0}, {"selected", 0},
                           {"points", std::move(points)}});
        start += along / speed + settings.gap;
    }
    report.strokes = n;

    const double white[3] = {1, 1, 1};
    nlohmann::ordered_json current = brushJson(white, 1.0, 5.0);
    const nlohmann::ordered_json mask = {{"color", 1}, {"opacity", 1}, {"size", 1},
                                         {"brushMode", 1}, {"softness", 1}, {"pressureFlags", 1}};
    report.drawing = {{"format", 1}, {"formatVersion", 272}, {"toolMode", 1}, {"previousToolMode", 0},
                      {"toolModeSwapped", 0}, {"toolOption", 1}, {"reservedSettings", {0, 0, 0, 0}},
                      {"currentBrush", current}, {"currentBrushMask", mask}, {"selectionActive", 0},
                      {"alternateBrush", current}, {"alternateBrushMask", mask}, {"strokes", std::move(strokes)}};
    return report;
}

}  // namespace pennaro_cli::vector
