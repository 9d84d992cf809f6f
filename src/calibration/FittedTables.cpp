#include "calibration/FittedTables.h"

#include "calibration/CalibrationRun.h"
#include "calibration/TableComputation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

// The work in three passes:
//   1. per step: the line fitted across the columns (outliers removed on the way), the whole
//      segments, the zero stripe and the X of every column from the segment centres;
//   2. per column: the line position and X smoothed along the run;
//   3. per column: every z-slot the line passed gets the stage travel at which it stood
//      there, and the X of that moment.
// Steps run on a transposed copy of Calibr_Data, columns on column-major scratch arrays.

namespace zq455 {
namespace {

// The line fit takes the columns within about one stripe spacing each side of a column, so
// its window always spans more than two stripes, whatever the field's width.
constexpr double LINE_WINDOW_SPACINGS = 1.0;
constexpr int LINE_HALF_WINDOW_MIN = 24;
constexpr int LINE_HALF_WINDOW_MAX = 96;
constexpr int LINE_HALF_WINDOW_DEFAULT = 48; // a step of fewer than two segments
constexpr int LINE_REACH = 64;               // columns a step's line is carried past its outermost value
constexpr int RUN_HALF_WINDOW = 8;           // steps each side of a step in the smoothing along the run
constexpr int RUN_REACH = 4;                 // steps the tables reach past the first and last capture
// X is carried this many stripe spacings past the outermost whole centre: over the stripe
// cut by the frame's edge and the gap beside it, not further.
constexpr double X_REACH_SPACINGS = 1.5;
constexpr unsigned MIN_LINE_VALUES = 8;
constexpr unsigned MIN_RUN_STEPS = 5;
constexpr unsigned MIN_SEGMENT_LENGTH = 3;
constexpr double WHOLE_SEGMENT_SHARE = 0.6; // of the step's median segment length
constexpr float FRAME_MARGIN = 10.0f;       // one row
constexpr int OUTLIER_PASSES = 3;
constexpr int TABLE_LIMIT = 8191; // the largest table value; -8192 is the empty cell
// A fitted value may carry at most this multiple of the variance of one value.
constexpr double MAX_NOISE_GAIN = 10.0;

constexpr float NONE = std::numeric_limits<float>::quiet_NaN();

// Least-squares quadratics over windows of a grid of positions 0..n-1, each holding a value
// or not: prefix sums of the moments make the fit of any window a 3 x 3 solve. Positions are
// scaled by `scale` and values taken relative to their mean, which keeps the sums well
// conditioned.
class TWindowFit {
public:
    void Build(const float* values, int n, double position_scale) {
        scale = position_scale;
        double sum = 0;
        unsigned count = 0;
        for (int i = 0; i < n; ++i)
            if (!std::isnan(values[i])) {
                sum += values[i];
                ++count;
            }
        offset = count ? sum / count : 0.0;
        m.resize(size_t(n + 1) * 8);
        double sums[8] = {};
        std::copy(sums, sums + 8, m.begin());
        for (int i = 0; i < n; ++i) {
            if (!std::isnan(values[i])) {
                const double u = i / scale;
                const double u2 = u * u;
                const double y = values[i] - offset;
                sums[0] += 1;
                sums[1] += u;
                sums[2] += u2;
                sums[3] += u2 * u;
                sums[4] += u2 * u2;
                sums[5] += y;
                sums[6] += y * u;
                sums[7] += y * u2;
            }
            std::copy(sums, sums + 8, m.begin() + long(i + 1) * 8);
        }
    }

    unsigned Count(int lo, int hi) const { return unsigned(m[size_t(hi + 1) * 8] - m[size_t(lo) * 8]); }

    // The fit of the values in positions lo..hi, taken at `at`; false with fewer than three
    // or where no fit is steady enough.
    // With `without`, the value standing at position `at` is left out of the fit.
    bool Value(int lo, int hi, double at, double& value, const float* without = nullptr) const {
        const double* a = &m[size_t(lo) * 8];
        const double* b = &m[size_t(hi + 1) * 8];
        double r[8];
        for (int j = 0; j < 8; ++j)
            r[j] = b[j] - a[j];
        if (without) {
            const double u = at / scale;
            const double y = *without - offset;
            const double terms[8] = {1, u, u * u, u * u * u, u * u * u * u, y, y * u, y * u * u};
            for (int j = 0; j < 8; ++j)
                r[j] -= terms[j];
        }
        if (r[0] < 3)
            return false;
        // Moments about `at`.
        const double v = at / scale, v2 = v * v, v3 = v2 * v, v4 = v3 * v;
        const double c0 = r[0];
        const double c1 = r[1] - v * r[0];
        const double c2 = r[2] - 2 * v * r[1] + v2 * r[0];
        const double c3 = r[3] - 3 * v * r[2] + 3 * v2 * r[1] - v3 * r[0];
        const double c4 = r[4] - 4 * v * r[3] + 6 * v2 * r[2] - 4 * v3 * r[1] + v4 * r[0];
        const double d0 = r[5];
        const double d1 = r[6] - v * r[5];
        const double d2 = r[7] - 2 * v * r[6] + v2 * r[5];
        // The quadratic, unless its value here would carry more than a few times one value's
        // noise (values in two clusters only, or far from `at`): then a straight line.
        const double minor0 = c2 * c4 - c3 * c3;
        const double det = c0 * minor0 - c1 * (c1 * c4 - c2 * c3) + c2 * (c1 * c3 - c2 * c2);
        if (det > 0 && minor0 <= MAX_NOISE_GAIN * det) {
            value = offset + (d0 * minor0 - c1 * (d1 * c4 - c3 * d2) + c2 * (d1 * c3 - c2 * d2)) / det;
            return true;
        }
        const double det1 = c0 * c2 - c1 * c1;
        if (det1 > 0 && c2 <= MAX_NOISE_GAIN * det1) {
            value = offset + (d0 * c2 - c1 * d1) / det1;
            return true;
        }
        return false;
    }

private:
    double scale = 1;
    double offset = 0;
    std::vector<double> m; // per position: count, u, u^2, u^3, u^4, y, y u, y u^2
};

// A window of half-width `half` around q, inside the values' span first..last; at the ends it
// is shifted inwards and keeps its width, so the fit there carries the curve outwards.
void Window(int q, int half, int first, int last, int& lo, int& hi) {
    lo = q - half;
    hi = q + half;
    if (lo < first) {
        lo = first;
        hi = std::min(last, first + 2 * half);
    }
    if (hi > last) {
        hi = last;
        lo = std::max(first, last - 2 * half);
    }
}

bool Span(const float* values, int n, int& first, int& last) {
    first = 0;
    while (first < n && std::isnan(values[first]))
        ++first;
    last = n - 1;
    while (last >= first && std::isnan(values[last]))
        --last;
    return first <= last;
}

// The line of one step: the outliers (more than the limit off the fitted line) leave `row`
// and `values`, and `line` gets the fitted line position of every column within reach of the
// values, NONE elsewhere.
void FitStepLine(uint16_t* row, int lo, int hi, int half_window, TWindowFit& fit, float* values, float* line,
                 std::vector<uint16_t>& removed) {
    std::fill(line, line + CALIBR_COLUMNS, NONE);
    unsigned count = 0;
    for (int c = 0; c < int(CALIBR_COLUMNS); ++c) {
        values[c] = c >= lo && c < hi && row[c] != 0 ? float(row[c]) : NONE;
        count += !std::isnan(values[c]);
    }
    if (count < MIN_LINE_VALUES)
        return;
    int first = 0, last = 0;
    std::vector<int> outliers;
    for (int pass = 0;; ++pass) {
        Span(values, CALIBR_COLUMNS, first, last);
        fit.Build(values, CALIBR_COLUMNS, 64.0);
        if (pass == OUTLIER_PASSES)
            break;
        outliers.clear();
        for (int c = first; c <= last; ++c) {
            if (std::isnan(values[c]))
                continue;
            int wlo, whi;
            Window(c, half_window, first, last, wlo, whi);
            double v = 0;
            // Held against the fit of the others: a stray value at the end of the line would
            // otherwise pull the curve onto itself.
            if (fit.Value(wlo, whi, c, v, &values[c]) && std::abs(values[c] - v) > CALIBR_OUTLIER_LIMIT)
                outliers.push_back(c);
        }
        if (outliers.empty())
            break;
        for (int c : outliers) {
            values[c] = NONE;
            row[c] = 0;
            removed.push_back(uint16_t(c));
            --count;
        }
        if (count < MIN_LINE_VALUES)
            return;
    }
    for (int c = std::max(0, first - LINE_REACH); c <= std::min(int(CALIBR_COLUMNS) - 1, last + LINE_REACH);
         ++c) {
        int wlo, whi;
        Window(c, half_window, first, last, wlo, whi);
        double v = 0;
        if (fit.Count(wlo, whi) >= MIN_LINE_VALUES && fit.Value(wlo, whi, c, v))
            line[c] = float(v);
    }
}

// The half-width of a step's line fit from the median spacing of its segments (starts of
// segments of at least three columns; a stray value beside the line makes none).
int LineHalfWindow(const uint16_t* row, int lo, int hi) {
    std::vector<int> starts;
    for (int c = lo; c < hi;) {
        while (c < hi && row[c] == 0)
            ++c;
        const int s = c;
        while (c < hi && row[c] != 0)
            ++c;
        if (c - s >= int(MIN_SEGMENT_LENGTH))
            starts.push_back(s);
    }
    if (starts.size() < 3)
        return LINE_HALF_WINDOW_DEFAULT;
    std::vector<int> spacings;
    for (size_t i = 1; i < starts.size(); ++i)
        spacings.push_back(starts[i] - starts[i - 1]);
    std::nth_element(spacings.begin(), spacings.begin() + long(spacings.size() / 2), spacings.end());
    const int half = int(std::lround(LINE_WINDOW_SPACINGS * spacings[spacings.size() / 2]));
    return std::clamp(half, LINE_HALF_WINDOW_MIN, LINE_HALF_WINDOW_MAX);
}

// A fitted line position the camera's rows hold, with a row to spare.
bool OnFrame(float position) {
    return position >= FRAME_MARGIN && position <= float(CALIBR_ZSLOTS - 1) - FRAME_MARGIN;
}

struct TKnot {
    double column; // the middle of the segment's columns
    double value;  // its mean line position
    long n;        // stripes from the zero stripe
};

// The whole segments of a step (bounded by empty columns inside lo..hi on both sides, where
// the step's line stays on the frame, and not much shorter than the others), each numbered
// from the zero stripe.
void StepKnots(const uint16_t* row, const float* line, int lo, int hi, uint16_t zl, uint16_t zr,
               std::vector<TKnot>& knots) {
    knots.clear();
    std::vector<int> lengths;
    struct TSegment {
        int s, e;
        double mean;
    };
    std::vector<TSegment> segments;
    for (int c = lo; c < hi;) {
        while (c < hi && row[c] == 0)
            ++c;
        if (c >= hi)
            break;
        const int s = c;
        uint32_t sum = 0;
        while (c < hi && row[c] != 0)
            sum += row[c++];
        // A segment at either limit may go on beyond it, and so may one beside columns whose
        // line lies off the frame's rows.
        if (s == lo || c >= hi || c - s < int(MIN_SEGMENT_LENGTH) || !OnFrame(line[s - 1]) ||
            !OnFrame(line[c]))
            continue;
        segments.push_back({s, c - 1, double(sum) / (c - s)});
        lengths.push_back(c - s);
    }
    if (segments.empty())
        return;
    std::nth_element(lengths.begin(), lengths.begin() + long(lengths.size() / 2), lengths.end());
    const double median = lengths[lengths.size() / 2];
    for (const TSegment& g : segments)
        if (g.e - g.s + 1 >= WHOLE_SEGMENT_SHARE * median)
            knots.push_back({(g.s + g.e) / 2.0, g.mean, 0});
    if (knots.empty())
        return;

    // The zero stripe: the one centre between the zero edits, or the nearest to their middle.
    const double middle = (zl + zr) / 2.0;
    size_t zero = 0;
    bool inside = false;
    for (size_t i = 0; i < knots.size(); ++i) {
        const bool in = knots[i].column >= zl && knots[i].column <= zr;
        const bool nearer = std::abs(knots[i].column - middle) < std::abs(knots[zero].column - middle);
        if ((in && !inside) || (in == inside && nearer)) {
            zero = i;
            inside = inside || in;
        }
    }
    if (knots.size() < 2)
        return;
    std::vector<double> spacings;
    for (size_t i = 1; i < knots.size(); ++i)
        spacings.push_back(knots[i].column - knots[i - 1].column);
    std::nth_element(spacings.begin(), spacings.begin() + long(spacings.size() / 2), spacings.end());
    const double spacing = spacings[spacings.size() / 2];
    // A stripe lost (a gap of two pitches) still counts.
    auto pitches = [spacing](double d) { return std::max(1L, std::lround(d / spacing)); };
    for (size_t i = zero + 1; i < knots.size(); ++i)
        knots[i].n = knots[i - 1].n + pitches(knots[i].column - knots[i - 1].column);
    for (size_t i = zero; i-- > 0;)
        knots[i].n = knots[i + 1].n - pitches(knots[i + 1].column - knots[i].column);
}

// X (um) of every column within reach of the knots, from least-squares quadratics through
// four neighbouring centres (three or two when there are no more).
void StepX(const std::vector<TKnot>& knots, float pitch_um, float* x) {
    std::fill(x, x + CALIBR_COLUMNS, NONE);
    const int k = int(knots.size());
    if (k < 2)
        return;
    const double spacing =
        (knots.back().column - knots.front().column) / double(knots.back().n - knots.front().n);
    const int reach = int(X_REACH_SPACINGS * spacing);
    const int from = std::max(0, int(std::ceil(knots.front().column)) - reach);
    const int to = std::min(int(CALIBR_COLUMNS) - 1, int(std::floor(knots.back().column)) + reach);
    int interval = -1;
    double a0 = 0, a1 = 0, a2 = 0, origin = 0, unit = 1;
    for (int c = from; c <= to; ++c) {
        int i = interval < 0 ? 0 : interval;
        while (i + 2 < k && knots[i + 1].column <= c)
            ++i;
        if (i != interval) {
            interval = i;
            int lo = std::max(0, i - 1);
            int hi = std::min(k - 1, lo + 3);
            lo = std::max(0, hi - 3);
            origin = knots[i].column;
            unit = std::max(1.0, knots[i + 1].column - knots[i].column);
            // Normal equations of the quadratic in (column - origin) / unit.
            double s[5] = {}, t[3] = {};
            for (int j = lo; j <= hi; ++j) {
                const double d = (knots[j].column - origin) / unit;
                const double y = double(knots[j].n) * pitch_um;
                double p = 1;
                for (int e = 0; e < 5; ++e, p *= d) {
                    s[e] += p;
                    if (e < 3)
                        t[e] += y * p;
                }
            }
            const int points = hi - lo + 1;
            if (points >= 3) {
                const double det = s[0] * (s[2] * s[4] - s[3] * s[3]) - s[1] * (s[1] * s[4] - s[2] * s[3]) +
                                   s[2] * (s[1] * s[3] - s[2] * s[2]);
                a0 = (t[0] * (s[2] * s[4] - s[3] * s[3]) - s[1] * (t[1] * s[4] - s[3] * t[2]) +
                      s[2] * (t[1] * s[3] - s[2] * t[2])) /
                     det;
                a1 = (s[0] * (t[1] * s[4] - s[3] * t[2]) - t[0] * (s[1] * s[4] - s[2] * s[3]) +
                      s[2] * (s[1] * t[2] - t[1] * s[2])) /
                     det;
                a2 = (s[0] * (s[2] * t[2] - t[1] * s[3]) - s[1] * (s[1] * t[2] - t[1] * s[2]) +
                      t[0] * (s[1] * s[3] - s[2] * s[2])) /
                     det;
            } else {
                const double det = s[0] * s[2] - s[1] * s[1];
                a0 = (t[0] * s[2] - s[1] * t[1]) / det;
                a1 = (s[0] * t[1] - s[1] * t[0]) / det;
                a2 = 0;
            }
        }
        const double d = (c - origin) / unit;
        x[c] = float(a0 + d * (a1 + d * a2));
    }
}

// The local quadratic over a full window of 2 m + 1 values is a fixed weighting of them
// (Savitzky and Golay's): weights[q][j] gives the fit's value at position q of the window.
struct TRunWeights {
    static constexpr int m = RUN_HALF_WINDOW;
    static constexpr int width = 2 * m + 1;
    std::array<std::array<double, width>, width> weights{};
    TRunWeights() {
        double a[3][3] = {};
        for (int j = -m; j <= m; ++j) {
            const double phi[3] = {1.0, double(j), double(j) * j};
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    a[r][c] += phi[r] * phi[c];
        }
        // The inverse of the symmetric 3 x 3 normal matrix by its cofactors.
        double inv[3][3];
        const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
                inv[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
            }
        for (int q = -m; q <= m; ++q) {
            const double pq[3] = {1.0, double(q), double(q) * q};
            for (int j = -m; j <= m; ++j) {
                const double pj[3] = {1.0, double(j), double(j) * j};
                double w = 0;
                for (int r = 0; r < 3; ++r)
                    for (int c = 0; c < 3; ++c)
                        w += pq[r] * inv[r][c] * pj[c];
                weights[size_t(q + m)][size_t(j + m)] = w;
            }
        }
    }
};

// One column's sequence along the run smoothed in place: every step within the span of the
// values gets the local fit of its neighbours (gaps of a few steps are filled).
void SmoothAlongRun(float* sequence, TWindowFit& fit, float* out) {
    std::fill(out, out + CALIBR_STEPS, NONE);
    int first = 0, last = 0;
    if (!Span(sequence, CALIBR_STEPS, first, last) || last - first + 1 < int(MIN_RUN_STEPS))
        return;
    static const TRunWeights run;
    constexpr int m = TRunWeights::m;
    bool dense = last - first + 1 >= TRunWeights::width;
    for (int k = first; dense && k <= last; ++k)
        dense = !std::isnan(sequence[k]);
    if (dense) {
        for (int k = first; k <= last; ++k) {
            // The window keeps its width at the ends and takes the fit there at its edge.
            const int lo = std::clamp(k - m, first, last - 2 * m);
            const auto& w = run.weights[size_t(k - lo)];
            double v = 0;
            for (int j = 0; j < TRunWeights::width; ++j)
                v += w[size_t(j)] * sequence[lo + j];
            out[k] = float(v);
        }
        std::copy(out, out + CALIBR_STEPS, sequence);
        return;
    }
    fit.Build(sequence, CALIBR_STEPS, 16.0);
    for (int k = first; k <= last; ++k) {
        int lo, hi;
        Window(k, RUN_HALF_WINDOW, first, last, lo, hi);
        double v = 0;
        if (fit.Count(lo, hi) >= MIN_RUN_STEPS && fit.Value(lo, hi, k, v))
            out[k] = float(v);
    }
    std::copy(out, out + CALIBR_STEPS, sequence);
}

// Rounding to whole slots without a call into the maths library.
inline int Ceil(double v) {
    v = std::clamp(v, -1e9, 1e9);
    const int i = int(v);
    return i + (i < v);
}

inline int Floor(double v) {
    v = std::clamp(v, -1e9, 1e9);
    const int i = int(v);
    return i - (i > v);
}

// Cells from..to of a table column: the nearest table unit of v0 + dv (s - from), halves
// upwards, kept within the table's values (the empty cell's code excluded).
void FillLinear(int16_t* cells, int from, int to, double v0, double dv) {
    // An offset keeps the values positive, so truncation rounds down, in a loop the compiler
    // can vectorise.
    constexpr double OFFSET = 65536.0;
    const double base = v0 + 0.5 + OFFSET - from * dv;
    for (int s = from; s <= to; ++s) {
        const int v = int(base + s * dv) - int(OFFSET);
        cells[s] = int16_t(std::clamp(v, -TABLE_LIMIT, TABLE_LIMIT));
    }
}

// Fills one column of both tables from its smoothed line positions and X along the run.
// Between two steps the step (a fraction) is a straight line in the slot, and so are Z and,
// between two steps with X, X: each piece is filled as one straight line.
void InvertColumn(const float* line, const float* x, double z_units_per_step, double x_units_per_um,
                  int16_t* z_cells, int16_t* x_cells) {
    std::fill(z_cells, z_cells + CALIBR_ZSLOTS, EMPTY_CELL);
    std::fill(x_cells, x_cells + CALIBR_ZSLOTS, EMPTY_CELL);
    // The steps whose line position rises past the previous one's; noise cannot fold the curve.
    int ks[CALIBR_STEPS];
    double ps[CALIBR_STEPS];
    int n = 0;
    for (int k = 0; k < int(CALIBR_STEPS); ++k)
        if (!std::isnan(line[k]) && (n == 0 || line[k] > ps[n - 1])) {
            ks[n] = k;
            ps[n] = line[k];
            ++n;
        }
    if (n < 2)
        return;
    int xk[CALIBR_STEPS];
    int xn = 0;
    for (int k = 0; k < int(CALIBR_STEPS); ++k)
        if (!std::isnan(x[k]))
            xk[xn++] = k;

    // The first and last pieces carry the curve RUN_REACH steps past the ends.
    const double low = ps[0] - RUN_REACH * (ps[1] - ps[0]) / (ks[1] - ks[0]);
    const double high = ps[n - 1] + RUN_REACH * (ps[n - 1] - ps[n - 2]) / (ks[n - 1] - ks[n - 2]);
    const int s_min = std::max(0, Ceil(low));
    const int s_max = std::min(int(CALIBR_ZSLOTS) - 1, Floor(high));
    const double x_low = xn >= 2 ? xk[0] - RUN_REACH : 0.0;
    const double x_high = xn >= 2 ? xk[xn - 1] + RUN_REACH : -1.0;
    int j = 0;
    for (int i = 0; i + 1 < n; ++i) {
        const int from = i == 0 ? s_min : std::max(s_min, Ceil(ps[i]));
        const int to = i + 2 == n ? s_max : std::min(s_max, Ceil(ps[i + 1]) - 1);
        if (from > to)
            continue;
        // step(s) = ks[i] + (s - ps[i]) rate
        const double rate = (ks[i + 1] - ks[i]) / (ps[i + 1] - ps[i]);
        auto step_at = [&](int s) { return ks[i] + (s - ps[i]) * rate; };
        auto slot_at = [&](double step) { return ps[i] + (step - ks[i]) / rate; };
        FillLinear(z_cells, from, to, step_at(from) * z_units_per_step, rate * z_units_per_step);

        // X: the slots of this piece whose step lies within reach of the X values, piece by
        // piece of X.
        int a = std::max(from, Ceil(slot_at(x_low)));
        const int b = std::min(to, Floor(slot_at(x_high)));
        while (a <= b) {
            const double step = step_at(a);
            while (j + 2 < xn && xk[j + 1] <= step)
                ++j;
            while (j > 0 && xk[j] > step)
                --j;
            const int end = j + 2 < xn ? std::min(b, Ceil(slot_at(xk[j + 1])) - 1) : b;
            const double x_rate = (x[xk[j + 1]] - x[xk[j]]) / double(xk[j + 1] - xk[j]);
            const double x0 = x[xk[j]] + (step - xk[j]) * x_rate;
            FillLinear(x_cells, a, std::max(a, end), x0 * x_units_per_um, rate * x_rate * x_units_per_um);
            a = std::max(a, end) + 1;
        }
    }
}

} // namespace

void BuildFittedTables(TCalibrationState& state, const TTableParams& params) {
    auto& D = state.Calibr_Data;
    auto& C = state.Calibr_Centres;
    std::memset(&C[0][0], 0, sizeof(uint16_t) * CALIBR_COLUMNS * CALIBR_STEPS);
    const float step_um = StepPitchUm(params.rz);
    state.Calibr_Step_Um = step_um;

    std::vector<uint16_t> rows = StepMajorData(state);

    // Column-major: 500 steps of column 0 first.
    std::vector<float> line(size_t{CALIBR_COLUMNS} * CALIBR_STEPS);
    std::vector<float> x(size_t{CALIBR_COLUMNS} * CALIBR_STEPS);
    const int lo = std::max<int>(params.xl, 1); // column 0 never carries a value
    const int hi = int(CALIBR_COLUMNS) - params.xr;
    TWindowFit fit;
    std::vector<uint16_t> removed;
    std::vector<TKnot> knots;
    float values[CALIBR_COLUMNS], step_line[CALIBR_COLUMNS], step_x[CALIBR_COLUMNS];
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        uint16_t* row = &rows[size_t{k} * CALIBR_COLUMNS];
        removed.clear();
        FitStepLine(row, lo, hi, LineHalfWindow(row, lo, hi), fit, values, step_line, removed);
        for (uint16_t c : removed)
            D[c][k] = 0;
        StepKnots(row, step_line, lo, hi, params.zl, params.zr, knots);
        for (const TKnot& knot : knots)
            C[std::lround(knot.column)][k] = uint16_t(std::lround(knot.value));
        StepX(knots, CALIBR_FEATURE_PITCH_UM, step_x);
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c) {
            line[size_t{c} * CALIBR_STEPS + k] = step_line[c];
            x[size_t{c} * CALIBR_STEPS + k] = step_x[c];
        }
    }

    // Stage travel from the first capture in units of RZ / 4096 per step, X in units of
    // XE / 4096 per micrometre.
    const double z_units_per_step = double(step_um) * 4096.0 / (double(params.rz) * 1000.0);
    const double x_units_per_um = 4096.0 / (double(params.xe) * 1000.0);
    float smoothed[CALIBR_STEPS];
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c) {
        float* column_line = &line[size_t{c} * CALIBR_STEPS];
        float* column_x = &x[size_t{c} * CALIBR_STEPS];
        SmoothAlongRun(column_line, fit, smoothed);
        SmoothAlongRun(column_x, fit, smoothed);
        InvertColumn(column_line, column_x, z_units_per_step, x_units_per_um, state.Calibr_Table_Z[c],
                     state.Calibr_Table_X[c]);
    }
    state.Calibr_Step_Um = CALIBR_FEATURE_PITCH_UM;
}

} // namespace zq455
