// The geometry of SVG art: numbers, transforms and the shapes' outlines as
// polylines, flattened finely enough for the layer they land on. Every
// number is checked (finite, within a sane range) and every refusal is a
// SvgDataError whose message says what was wrong; the caller adds the file
// and line.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pennaro_cli::vector {

struct SvgDataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Coordinates beyond this are refused: no art needs them, and they would
// only turn into infinities and absurd point counts further on.
inline constexpr double SVG_MAX_COORDINATE = 1e7;

struct Point {
    double x = 0, y = 0;
};

// The affine map x' = a x + c y + e, y' = b x + d y + f.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    Point apply(Point p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    // this, then `inner` applied first: (this * inner)(p) = this(inner(p)).
    Matrix operator*(const Matrix &inner) const;
    // The mean scale of a length: sqrt(|det|).
    double scale() const;
};

// One number of an attribute ("12", "-3.5e2", "10px"); unit suffixes px,
// pt, pc, mm, cm and in are converted to user units. Refuses "%" and
// anything else.
double parseLength(std::string_view text, const std::string &what);

// Numbers separated by white space and commas.
std::vector<double> parseNumberList(std::string_view text, const std::string &what);

// A transform list: matrix, translate, scale, rotate, skewX, skewY.
Matrix parseTransform(std::string_view text);

// Budget for one document: path commands read and points produced.
struct PathBudget {
    size_t commandsLeft;
    size_t pointsLeft;
};

// A subpath as a polyline in the coordinates it was written in.
using Polyline = std::vector<Point>;

// Path data ("M 0 0 C ..."): every subpath, curves and arcs flattened into
// pieces of about one layer pixel at `scale` layer pixels per unit.
std::vector<Polyline> parsePathData(std::string_view text, double scale, PathBudget &budget);

// The outline of an ellipse (a circle when rx = ry) as a closed polyline.
Polyline ellipseOutline(double cx, double cy, double rx, double ry, double scale, PathBudget &budget);

}  // namespace pennaro_cli::vector
