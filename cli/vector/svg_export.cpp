// How each dab kind is drawn:
//
// - round: a disc whose radial gradient follows the kernel: full alpha in
//   the core, then the rim's falloff ((outer² - d²) / (outer² - inner²))³
//   out to the outer radius, sampled at 12 stops. A stroke's dabs unite by
//   "over" at full alpha inside the group, and the group carries the
//   stroke's opacity, as the effect applies it after uniting them.
// - soft: a disc of twice the brush radius whose gradient is the soft
//   kernel's fixed falloff (1 - d²/R²)³ at half the brush's alpha.
// - square: a rounded square at the kernel's half-coverage line (its corner
//   is the arc where the two edge falloffs sum to one half), drawn solid;
//   squares merge by maximum, which for one alpha is their union.
// Erasing strokes become a mask over everything drawn before them.
#include "cli/vector/svg_export.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace pennaro_cli::vector {
namespace {

constexpr int kStops = 12;

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

std::string hex(const uint8_t rgb[3]) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
    return buf;
}

// Radial gradients shared by every dab of one colour and profile.
class Gradients {
public:
    // A round dab's profile is fixed by its inner over outer radius.
    std::string round(const std::string &colour, double inner, double outer) {
        const double rho = std::round(inner / outer * 1000.0) / 1000.0;
        const std::string key = colour + "r" + num(rho * 1000);
        return find(key, [&] {
            const double q = rho >= 0 ? rho * rho : -(rho * rho);
            std::string stops;
            const double from = std::max(0.0, rho);
            if (from > 0) stops += stop(0, colour, 1.0);
            for (int i = 0; i <= kStops; ++i) {
                const double s = from + (1.0 - from) * i / kStops;
                const double u = s * s <= q ? 1.0 : (1.0 - s * s) / (1.0 - q);
                stops += stop(s, colour, u * u * u);
            }
            return stops;
        });
    }
    // A soft dab's profile is fixed except below a radius of 2, where the
    // kernel lowers its peak.
    std::string soft(const std::string &colour, double radius) {
        double peak = 1.0;
        if (radius < 2.0) peak = radius * radius / (radius * radius + (2.0 - radius) * (2.0 - radius));
        peak = std::round(peak * 100.0) / 100.0;
        const std::string key = colour + "s" + num(peak * 100);
        return find(key, [&] {
            std::string stops;
            for (int i = 0; i <= kStops; ++i) {
                const double s = static_cast<double>(i) / kStops;
                const double u = (1.0 - s * s) * peak;
                stops += stop(s, colour, u * u * u);
            }
            return stops;
        });
    }
    const std::string &defs() const { return defs_; }

private:
    static std::string stop(double offset, const std::string &colour, double opacity) {
        return "<stop offset=\"" + num4(offset) + "\" stop-color=\"" + colour + "\" stop-opacity=\"" +
               num4(opacity) + "\"/>";
    }
    static std::string num4(double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4f", v);
        return buf;
    }
    template <typename Make>
    std::string find(const std::string &key, Make make) {
        auto it = ids_.find(key);
        if (it != ids_.end()) return it->second;
        std::string id = std::to_string(ids_.size());
        id.insert(id.begin(), 'g');
        ids_[key] = id;
        defs_ += "<radialGradient id=\"" + id + "\">" + make() + "</radialGradient>\n";
        return id;
    }
    std::map<std::string, std::string> ids_;
    std::string defs_;
};

struct DabWriter {
    Gradients &gradients;
    const SvgOptions &options;

    // `colour` fills the gradients; `alphaScale` divides the dab's alpha
    // (the part the group carries already).
    std::string dab(const VectorDab &d, const std::string &colour, double alphaScale, double startTime) const {
        std::string attrs;
        const double rx = static_cast<double>(d.radius) * d.aspect;
        const double aspect = d.aspect;
        double opacity = d.alpha / 255.0;
        std::string el;
        if (d.kind == 1) {
            const double f = std::max(1.0, rx * d.softness);
            const double outer = rx + f;
            el = shape(d, outer, aspect) + " fill=\"url(#" + gradients.round(colour, rx - f, outer) + ")\"";
        } else if (d.kind == 2) {
            opacity = (d.alpha >> 1) / 255.0;
            el = shape(d, rx, aspect) + " fill=\"url(#" + gradients.soft(colour, rx) + ")\"";
        } else {
            const double ro = rx + 0.7;
            const double ri = (1.0 - d.softness) * rx - 0.7;
            const double c = std::sqrt(0.5) * (ro - ri);
            const double corner = ri > 0 ? c : std::max(0.0, c + ri);
            const double half = std::max(0.0, ri) + c;
            const double halfY = half / aspect;
            el = "<rect x=\"" + num(d.x - half) + "\" y=\"" + num(d.y - halfY) + "\" width=\"" + num(2 * half) +
                 "\" height=\"" + num(2 * halfY) + "\"";
            if (corner > 0.05) el += " rx=\"" + num(corner) + "\"";
        }
        opacity /= alphaScale;
        if (opacity < 0.999) el += " fill-opacity=\"" + num4(std::min(1.0, opacity)) + "\"";
        if (options.animate) {
            const double at = (startTime + static_cast<double>(d.time)) * options.timeScale;
            if (at > 0) el += " style=\"animation-duration:" + num3(at) + "s\"";
        }
        return el + "/>";
    }

    static std::string shape(const VectorDab &d, double r, double aspect) {
        if (aspect == 1.0)
            return "<circle cx=\"" + num(d.x) + "\" cy=\"" + num(d.y) + "\" r=\"" + num(r) + "\"";
        return "<ellipse cx=\"" + num(d.x) + "\" cy=\"" + num(d.y) + "\" rx=\"" + num(r) + "\" ry=\"" +
               num(r / aspect) + "\"";
    }
    static std::string num4(double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f", v);
        return buf;
    }
    static std::string num3(double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4f", v);
        return buf;
    }
};

}  // namespace

std::string writeSvg(const VectorDrawing &drawing, const SvgOptions &options) {
    Gradients gradients;
    DabWriter writer{gradients, options};
    const std::string w = std::to_string(drawing.width), h = std::to_string(drawing.height);
    // An erasing stroke wraps everything drawn before it in its mask: the
    // groups' openings, innermost last, go before the first stroke.
    std::string body, masks;
    std::vector<std::string> maskOpenings;
    for (const VectorStroke &s : drawing.strokes) {
        const uint32_t kind = s.kind();
        // Round strokes get their opacity after uniting their dabs; square
        // dabs carry it in their alpha and merge by maximum, so their group
        // carries it instead. Soft dabs carry it and unite.
        double groupOpacity = 1.0;
        if (kind == 1 || kind == 3) groupOpacity = s.opacity;
        const double alphaScale = kind == 3 ? std::max(1e-6, static_cast<double>(s.opacity)) : 1.0;
        const std::string colour = s.erases() ? "#000000" : hex(s.rgb);
        std::string group = "<g";
        if (groupOpacity < 0.999) group += " opacity=\"" + DabWriter::num4(std::max(0.0, groupOpacity)) + "\"";
        if (kind == 3) group += " fill=\"" + colour + "\"";
        group += " data-stroke=\"" + std::to_string(s.index) + "\">\n";
        for (const VectorDab &d : s.dabs) group += writer.dab(d, colour, alphaScale, s.startTime) + "\n";
        group += "</g>\n";
        if (!s.erases()) {
            body += group;
            continue;
        }
        // What the stroke erases is cut out of everything below it.
        const std::string id = "erase" + std::to_string(maskOpenings.size());
        masks += "<mask id=\"" + id + "\" maskUnits=\"userSpaceOnUse\" x=\"0\" y=\"0\" width=\"" + w +
                 "\" height=\"" + h + "\"><rect width=\"" + w + "\" height=\"" + h + "\" fill=\"#fff\"/>\n" + group +
                 "</mask>\n";
        maskOpenings.push_back("<g mask=\"url(#" + id + ")\">\n");
        body += "</g>\n";
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
                      "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
    out += "<defs>\n" + gradients.defs() + masks + "</defs>\n";
    if (options.animate)
        // Each dab stays hidden for its own animation's duration: the time
        // the effect's "Animate Strokes" stamps it. A viewer without CSS
        // animations shows the finished drawing.
        out += "<style>@keyframes pennaro-wait{from,to{visibility:hidden}}"
               "circle,ellipse,rect{animation-name:pennaro-wait;animation-timing-function:step-end}"
               "</style>\n";
    for (auto it = maskOpenings.rbegin(); it != maskOpenings.rend(); ++it) out += *it;
    out += body + "</svg>\n";
    return out;
}

}  // namespace pennaro_cli::vector
