#include "cli/vector/svg_paths.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pennaro_cli::vector {
namespace {

constexpr double kPi = 3.14159265358979323846;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string quoted(std::string_view text) {
    std::string s(text.substr(0, 40));
    if (text.size() > 40) s += "...";
    return "'" + s + "'";
}

// Reads the number at text[pos] (after white space and one comma),
// advancing pos; false when there is none.
bool readNumber(std::string_view text, size_t &pos, double &value, const std::string &what) {
    while (pos < text.size() && isSpace(text[pos])) ++pos;
    if (pos < text.size() && text[pos] == ',') {
        ++pos;
        while (pos < text.size() && isSpace(text[pos])) ++pos;
    }
    if (pos >= text.size()) return false;
    const char c = text[pos];
    // from_chars would take "nan" and "inf"; a number starts with these.
    if (!(c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9'))) return false;
    size_t start = pos + (c == '+' ? 1 : 0);
    const char *first = text.data() + start;
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        throw SvgDataError(what + ": number out of range in " + quoted(text.substr(pos)));
    if (error != std::errc() || (end > first && (end[-1] == 'e' || end[-1] == 'E'))) return false;
    if (!std::isfinite(value) || std::fabs(value) > SVG_MAX_COORDINATE)
        throw SvgDataError(what + ": number out of range in " + quoted(text.substr(pos)));
    pos = static_cast<size_t>(end - text.data());
    return true;
}

double needNumber(std::string_view text, size_t &pos, const std::string &what) {
    double v = 0;
    if (!readNumber(text, pos, v, what))
        throw SvgDataError(what + ": a number is missing at " + quoted(text.substr(std::min(pos, text.size()))));
    return v;
}

// An arc flag: a single 0 or 1, which may run into the next number.
bool needFlag(std::string_view text, size_t &pos, const std::string &what) {
    while (pos < text.size() && (isSpace(text[pos]) || text[pos] == ',')) ++pos;
    if (pos >= text.size() || (text[pos] != '0' && text[pos] != '1'))
        throw SvgDataError(what + ": an arc flag (0 or 1) is missing at " + quoted(text.substr(std::min(pos, text.size()))));
    return text[pos++] == '1';
}

class Builder {
public:
    Builder(double scale, PathBudget &budget) : scale_(scale), budget_(budget) {}

    void moveTo(Point p) {
        finish();
        current_.push_back(p);
    }
    void lineTo(Point p) { add(p); }
    // Pieces of about a layer pixel, from the control polygon's length.
    int pieces(double length) const {
        return static_cast<int>(std::clamp(std::ceil(length * scale_), 1.0, 1000.0));
    }
    void cubic(Point p0, Point p1, Point p2, Point p3) {
        const int n = pieces(dist(p0, p1) + dist(p1, p2) + dist(p2, p3));
        for (int i = 1; i <= n; ++i) {
            const double t = static_cast<double>(i) / n, u = 1 - t;
            add({u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x,
                 u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y});
        }
    }
    void quadratic(Point p0, Point p1, Point p2) {
        const int n = pieces(dist(p0, p1) + dist(p1, p2));
        for (int i = 1; i <= n; ++i) {
            const double t = static_cast<double>(i) / n, u = 1 - t;
            add({u * u * p0.x + 2 * u * t * p1.x + t * t * p2.x, u * u * p0.y + 2 * u * t * p1.y + t * t * p2.y});
        }
    }
    // The endpoint arc of SVG, through its centre form.
    void arc(Point p0, double rx, double ry, double rotation, bool large, bool sweep, Point p1) {
        rx = std::fabs(rx);
        ry = std::fabs(ry);
        if (rx == 0 || ry == 0 || (p0.x == p1.x && p0.y == p1.y)) {
            add(p1);
            return;
        }
        const double phi = rotation * kPi / 180, cs = std::cos(phi), sn = std::sin(phi);
        const double dx = (p0.x - p1.x) / 2, dy = (p0.y - p1.y) / 2;
        const double x1 = cs * dx + sn * dy, y1 = -sn * dx + cs * dy;
        const double lambda = (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
        if (lambda > 1) {
            rx *= std::sqrt(lambda);
            ry *= std::sqrt(lambda);
        }
        const double num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1;
        const double den = rx * rx * y1 * y1 + ry * ry * x1 * x1;
        double k = den > 0 ? std::sqrt(std::max(0.0, num / den)) : 0;
        if (large == sweep) k = -k;
        const double cxp = k * rx * y1 / ry, cyp = -k * ry * x1 / rx;
        const double cx = cs * cxp - sn * cyp + (p0.x + p1.x) / 2, cy = sn * cxp + cs * cyp + (p0.y + p1.y) / 2;
        auto angle = [](double ux, double uy, double vx, double vy) {
            return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
        };
        const double theta = angle(1, 0, (x1 - cxp) / rx, (y1 - cyp) / ry);
        double delta = angle((x1 - cxp) / rx, (y1 - cyp) / ry, (-x1 - cxp) / rx, (-y1 - cyp) / ry);
        if (!sweep && delta > 0) delta -= 2 * kPi;
        if (sweep && delta < 0) delta += 2 * kPi;
        const int n = pieces(std::fabs(delta) * std::max(rx, ry));
        for (int i = 1; i < n; ++i) {
            const double a = theta + delta * i / n;
            const double ex = rx * std::cos(a), ey = ry * std::sin(a);
            add({cs * ex - sn * ey + cx, sn * ex + cs * ey + cy});
        }
        add(p1);
    }
    void close() {
        if (current_.size() > 1) add(current_.front());
        const Point start = current_.empty() ? Point{} : current_.front();
        finish();
        current_.push_back(start);
    }
    std::vector<Polyline> done() {
        finish();
        return std::move(lines_);
    }

private:
    static double dist(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }
    void add(Point p) {
        if (budget_.pointsLeft == 0) throw SvgDataError("the art's outlines need more points than an import may hold");
        --budget_.pointsLeft;
        current_.push_back(p);
    }
    void finish() {
        if (current_.size() > 1) lines_.push_back(std::move(current_));
        current_.clear();
    }
    double scale_;
    PathBudget &budget_;
    Polyline current_;
    std::vector<Polyline> lines_;
};

}  // namespace

Matrix Matrix::operator*(const Matrix &m) const {
    return {a * m.a + c * m.b, b * m.a + d * m.b, a * m.c + c * m.d, b * m.c + d * m.d,
            a * m.e + c * m.f + e, b * m.e + d * m.f + f};
}

double Matrix::scale() const { return std::sqrt(std::fabs(a * d - b * c)); }

double parseLength(std::string_view text, const std::string &what) {
    size_t pos = 0;
    double v = 0;
    if (!readNumber(text, pos, v, what)) throw SvgDataError(what + ": not a length: " + quoted(text));
    std::string_view unit = text.substr(pos);
    while (!unit.empty() && isSpace(unit.back())) unit.remove_suffix(1);
    static const struct {
        const char *name;
        double factor;
    } units[] = {{"", 1}, {"px", 1}, {"pt", 4.0 / 3}, {"pc", 16}, {"mm", 96 / 25.4}, {"cm", 96 / 2.54}, {"in", 96}};
    for (const auto &u : units)
        if (unit == u.name) return v * u.factor;
    throw SvgDataError(what + ": unit not understood in " + quoted(text));
}

std::vector<double> parseNumberList(std::string_view text, const std::string &what) {
    std::vector<double> values;
    size_t pos = 0;
    double v = 0;
    while (readNumber(text, pos, v, what)) values.push_back(v);
    while (pos < text.size() && (isSpace(text[pos]) || text[pos] == ',')) ++pos;
    if (pos < text.size()) throw SvgDataError(what + ": not a number: " + quoted(text.substr(pos)));
    return values;
}

Matrix parseTransform(std::string_view text) {
    Matrix m;
    size_t pos = 0;
    for (;;) {
        while (pos < text.size() && (isSpace(text[pos]) || text[pos] == ',')) ++pos;
        if (pos >= text.size()) return m;
        const size_t open = text.find('(', pos);
        const size_t close = text.find(')', pos);
        if (open == std::string_view::npos || close == std::string_view::npos || close < open)
            throw SvgDataError("transform: not understood: " + quoted(text.substr(pos)));
        std::string_view name = text.substr(pos, open - pos);
        while (!name.empty() && isSpace(name.back())) name.remove_suffix(1);
        const std::vector<double> v = parseNumberList(text.substr(open + 1, close - open - 1), "transform");
        auto need = [&](size_t lo, size_t hi) {
            if (v.size() < lo || v.size() > hi)
                throw SvgDataError("transform: " + std::string(name) + " takes " + std::to_string(lo) +
                                   (lo == hi ? "" : " to " + std::to_string(hi)) + " numbers");
        };
        Matrix t;
        if (name == "matrix") {
            need(6, 6);
            t = {v[0], v[1], v[2], v[3], v[4], v[5]};
        } else if (name == "translate") {
            need(1, 2);
            t.e = v[0];
            t.f = v.size() > 1 ? v[1] : 0;
        } else if (name == "scale") {
            need(1, 2);
            t.a = v[0];
            t.d = v.size() > 1 ? v[1] : v[0];
        } else if (name == "rotate") {
            if (v.size() != 1 && v.size() != 3) need(1, 1);
            const double r = v[0] * kPi / 180, cx = v.size() == 3 ? v[1] : 0, cy = v.size() == 3 ? v[2] : 0;
            const Matrix rot{std::cos(r), std::sin(r), -std::sin(r), std::cos(r), 0, 0};
            t = Matrix{1, 0, 0, 1, cx, cy} * rot * Matrix{1, 0, 0, 1, -cx, -cy};
        } else if (name == "skewX") {
            need(1, 1);
            t.c = std::tan(v[0] * kPi / 180);
        } else if (name == "skewY") {
            need(1, 1);
            t.b = std::tan(v[0] * kPi / 180);
        } else {
            throw SvgDataError("transform: unknown function " + quoted(name));
        }
        m = m * t;
        pos = close + 1;
    }
}

std::vector<Polyline> parsePathData(std::string_view text, double scale, PathBudget &budget) {
    Builder b(scale, budget);
    Point cur, start, lastControl;
    char previous = 0;
    char command = 0;
    size_t pos = 0;
    const std::string what = "path data";
    for (;;) {
        while (pos < text.size() && (isSpace(text[pos]) || text[pos] == ',')) ++pos;
        if (pos >= text.size()) break;
        const char c = text[pos];
        if (std::string_view("MmLlHhVvCcSsQqTtAaZz").find(c) != std::string_view::npos) {
            command = c;
            ++pos;
        } else if (command == 0 || command == 'Z' || command == 'z') {
            throw SvgDataError(what + ": a command letter is expected at " + quoted(text.substr(pos)));
        }
        if (budget.commandsLeft == 0) throw SvgDataError(what + ": more path commands than an import may hold");
        --budget.commandsLeft;
        const bool rel = command >= 'a';
        const Point base = rel ? cur : Point{};
        auto pt = [&]() {
            const double x = needNumber(text, pos, what);
            const double y = needNumber(text, pos, what);
            return Point{base.x + x, base.y + y};
        };
        const char upper = static_cast<char>(rel ? command - 32 : command);
        if (upper != 'M' && previous == 0) throw SvgDataError(what + ": must start with a move (M)");
        switch (upper) {
            case 'M':
                cur = start = pt();
                b.moveTo(cur);
                command = rel ? 'l' : 'L';  // further pairs are lines
                break;
            case 'L':
                cur = pt();
                b.lineTo(cur);
                break;
            case 'H':
                cur.x = (rel ? cur.x : 0) + needNumber(text, pos, what);
                b.lineTo(cur);
                break;
            case 'V':
                cur.y = (rel ? cur.y : 0) + needNumber(text, pos, what);
                b.lineTo(cur);
                break;
            case 'C': {
                const Point p1 = pt(), p2 = pt(), p3 = pt();
                b.cubic(cur, p1, p2, p3);
                lastControl = p2;
                cur = p3;
                break;
            }
            case 'S': {
                const bool smooth = previous == 'C' || previous == 'S';
                const Point p1 = smooth ? Point{2 * cur.x - lastControl.x, 2 * cur.y - lastControl.y} : cur;
                const Point p2 = pt(), p3 = pt();
                b.cubic(cur, p1, p2, p3);
                lastControl = p2;
                cur = p3;
                break;
            }
            case 'Q': {
                const Point p1 = pt(), p2 = pt();
                b.quadratic(cur, p1, p2);
                lastControl = p1;
                cur = p2;
                break;
            }
            case 'T': {
                const bool smooth = previous == 'Q' || previous == 'T';
                const Point p1 = smooth ? Point{2 * cur.x - lastControl.x, 2 * cur.y - lastControl.y} : cur;
                const Point p2 = pt();
                b.quadratic(cur, p1, p2);
                lastControl = p1;
                cur = p2;
                break;
            }
            case 'A': {
                const double rx = needNumber(text, pos, what), ry = needNumber(text, pos, what);
                const double rotation = needNumber(text, pos, what);
                const bool large = needFlag(text, pos, what), sweep = needFlag(text, pos, what);
                const Point p = pt();
                b.arc(cur, rx, ry, rotation, large, sweep, p);
                cur = p;
                break;
            }
            default:  // Z
                b.close();
                cur = start;
                break;
        }
        previous = upper;
    }
    return b.done();
}

Polyline ellipseOutline(double cx, double cy, double rx, double ry, double scale, PathBudget &budget) {
    Builder b(scale, budget);
    // Clockwise from the rightmost point, as the shape's path runs.
    b.moveTo({cx + rx, cy});
    b.arc({cx + rx, cy}, rx, ry, 0, false, true, {cx - rx, cy});
    b.arc({cx - rx, cy}, rx, ry, 0, false, true, {cx + rx, cy});
    auto lines = b.done();
    return lines.empty() ? Polyline{} : lines.front();
}

}  // namespace pennaro_cli::vector
