#include "calibration/TableComputation.h"

#include "calibration/FittedTables.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// How the passes are laid out for speed without changing a result:
// - The data and centre arrays are column-major, but every rule of the centre extraction
//   works along one step, so the steps are processed on a transposed copy.
// - The tables are column-major too, while the polylines run across the columns. Each
//   table column is therefore built in one go: the polyline pieces of all 500 steps that
//   cross it are applied in the order the step-by-step drawing would apply them (step by
//   step; within a step in drawing order), which gives the same last-write-wins result,
//   and the column is then interpolated while it is still in the cache. Each table cell
//   is written about once instead of being cleared, drawn and filled in three sweeps.
// - Float products of a small integer and a float are exact in double, so they need no
//   extended precision; the one division that can round differently (the X scale) takes a
//   double estimate and falls back to extended precision near an integer.

namespace zq455 {

namespace {

struct TCentre {
    uint16_t column;
    uint16_t value;
};

// The centres of every step, columns ascending: step k owns centres[first[k] .. first[k+1]).
struct TCentreLists {
    std::vector<uint32_t> first = std::vector<uint32_t>(CALIBR_STEPS + 1, 0);
    std::vector<TCentre> centres;
};

// The centres as Calibr_Centres holds them (for the passes run on their own).
TCentreLists GatherCentres(const TCalibrationState& state) {
    TCentreLists lists;
    std::vector<uint32_t> count(CALIBR_STEPS, 0);
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned k = 0; k < CALIBR_STEPS; ++k)
            count[k] += state.Calibr_Centres[c][k] != 0;
    for (unsigned k = 0; k < CALIBR_STEPS; ++k)
        lists.first[k + 1] = lists.first[k] + count[k];
    lists.centres.resize(lists.first[CALIBR_STEPS]);
    std::vector<uint32_t> next(lists.first.begin(), lists.first.end() - 1);
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned k = 0; k < CALIBR_STEPS; ++k)
            if (state.Calibr_Centres[c][k] != 0)
                lists.centres[next[k]++] = {uint16_t(c), state.Calibr_Centres[c][k]};
    return lists;
}

// Centre extraction of one step, on the step's 640 values: appends the centres found and
// the columns of the outliers removed.
void ExtractStep(uint16_t* row, int xl, int right, std::vector<TCentre>& out,
                 std::vector<uint16_t>& removed) {
    uint32_t sum = 0;
    uint32_t count = 0;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c) {
        if (c == CALIBR_REFERENCE_BAND_LOW)
            c = CALIBR_REFERENCE_BAND_HIGH;
        sum += row[c];
        count += row[c] != 0;
    }
    const int32_t ref = int32_t(count ? sum / count : 0);
    for (int c = 0; c < right; ++c)
        if (row[c] != 0 && std::abs(int32_t(row[c]) - ref) > CALIBR_OUTLIER_LIMIT) {
            row[c] = 0;
            removed.push_back(uint16_t(c));
        }

    int c = xl;
    while (c < right) {
        while (c < right && row[c] == 0)
            ++c;
        if (c >= right)
            break;
        const int s = c;
        uint16_t max = 0;
        uint16_t min = 10000;
        int max_col = -1;
        int min_col = -1;
        uint32_t seg_sum = 0;
        while (c < right && row[c] != 0) {
            const uint16_t v = row[c];
            if (v > max) {
                max = v;
                max_col = c;
            }
            if (v < min) {
                min = v;
                min_col = c;
            }
            seg_sum += v;
            ++c;
        }
        if (c >= right)
            break; // a segment cut by the right limit has no reliable centre
        const int len = c - s;
        const int m = s + (len + 1) / 2;
        uint32_t n;
        if (len > 2) {
            // The highest and the lowest value are left out (one column if they coincide).
            seg_sum -= row[max_col];
            n = uint32_t(len - 1);
            if (min_col >= 0 && min_col != max_col) {
                seg_sum -= row[min_col];
                --n;
            }
        } else {
            // Two columns: the second value; one column: the zero after it, no centre.
            seg_sum = row[m];
            n = 1;
        }
        const uint16_t centre = uint16_t((seg_sum + n / 2) / n);
        if (centre != 0)
            out.push_back({uint16_t(m), centre});
    }
}

TCentreLists ExtractAllCentres(TCalibrationState& state, uint16_t xl, uint16_t xr) {
    auto& D = state.Calibr_Data;
    auto& C = state.Calibr_Centres;
    std::memset(&C[0][0], 0, sizeof(uint16_t) * CALIBR_COLUMNS * CALIBR_STEPS);

    std::vector<uint16_t> rows = StepMajorData(state);

    TCentreLists lists;
    lists.centres.reserve(64 * CALIBR_STEPS);
    const int right = int(CALIBR_COLUMNS) - xr;
    std::vector<uint16_t> removed;
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        removed.clear();
        ExtractStep(&rows[size_t{k} * CALIBR_COLUMNS], xl, right, lists.centres, removed);
        lists.first[k + 1] = uint32_t(lists.centres.size());
        for (uint32_t i = lists.first[k]; i < lists.first[k + 1]; ++i)
            C[lists.centres[i].column][k] = lists.centres[i].value;
        for (uint16_t c : removed)
            D[c][k] = 0;
    }
    return lists;
}

// One piece of a step's polyline, between two consecutive centres, over columns lo..hi.
// j counts from the piece's start: lo for the rising direction, hi for the falling one.
struct TPiece {
    uint16_t lo;
    uint16_t hi;
    int32_t z0;  // z-slot at j = 0
    float slope; // z-slots per column
    float dx;    // um per column (X only)
    float acc;   // um at j = 0 (X only)
};

// Pieces of all steps: step k owns pieces[first[k] .. first[k+1]), ascending by column.
struct TPieces {
    std::vector<uint32_t> first = std::vector<uint32_t>(CALIBR_STEPS + 1, 0);
    std::vector<TPiece> pieces;
};

// The polyline through the centres of one direction. `rising`: columns ascending from the
// zero feature, else descending; either way the pieces are stored ascending by column.
void AddPieces(const TCentre* centres, uint32_t n, bool rising, float pitch, std::vector<TPiece>& out) {
    const size_t start = out.size();
    float acc = 0.0f;
    for (uint32_t i = 1; i < n; ++i) {
        // Walking direction: from p (previous) to q.
        const TCentre p = rising ? centres[i - 1] : centres[n - i];
        const TCentre q = rising ? centres[i] : centres[n - 1 - i];
        const int dc = rising ? q.column - p.column : p.column - q.column;
        TPiece piece;
        piece.lo = rising ? p.column : q.column;
        piece.hi = rising ? q.column : p.column;
        piece.z0 = p.value;
        // A quotient of two integers this small rounds to float the same from any precision.
        piece.slope = float(int(q.value) - int(p.value)) / float(dc);
        piece.dx = pitch / float(int(q.column) - int(p.column));
        piece.acc = acc;
        acc = rising ? acc + pitch : acc - pitch;
        out.push_back(piece);
    }
    if (!rising)
        std::reverse(out.begin() + long(start), out.end());
}

// Slot of a piece at j; outside the table when it is negative or 5120 and more.
inline long PieceSlot(const TPiece& p, int j) {
    return p.z0 + long(double(j) * double(p.slope));
}

// trunc(um * 4096 / (XE * 1000)) as extended precision gives it. The double estimate is
// off by at most |q| * 3e-16; unless it lies that close to an integer (with a wide margin),
// it truncates the same, and extended precision decides the rest.
struct TXScale {
    long double divisor;
    double inverse;
    explicit TXScale(uint16_t xe) : divisor((long double)xe * 1000), inverse(1.0 / (double(xe) * 1000)) {}
    int16_t operator()(const TPiece& p, int j) const {
        const double scaled = (double(j) * double(p.dx) + double(p.acc)) * 4096; // exact
        const double q = scaled * inverse;
        const double t = std::trunc(q);
        const double frac = std::fabs(q - t);
        const double margin = 1e-9 + std::fabs(q) * 1e-12;
        if (frac > margin && frac < 1 - margin)
            return int16_t(static_cast<long long>(t));
        return int16_t((long long)((long double)scaled / divisor));
    }
};

// A table column under construction: the cells written and which of them were.
struct TColumn {
    int16_t* cells;
    uint64_t written[CALIBR_ZSLOTS / 64];

    void Begin(int16_t* column) {
        cells = column;
        std::memset(written, 0, sizeof(written));
    }
    void Put(long slot, int16_t v) {
        if (slot < 0 || slot >= long(CALIBR_ZSLOTS))
            return;
        cells[slot] = v;
        written[slot >> 6] |= uint64_t{1} << (slot & 63);
    }
};

// The float slope of a span from vp to v over len cells is exactly M / 2^sh, so the
// interpolated cells trunc(vp + j * slope) can be evaluated in integers.
struct TSlope {
    int32_t m = 0; // 0: a flat span
    int32_t sh = 0;
    TSlope() = default;
    explicit TSlope(float slope) {
        const uint32_t bits = std::bit_cast<uint32_t>(slope); // normal: |slope| >= 1/5119
        const int32_t magnitude = int32_t((bits & 0x7FFFFF) | 0x800000);
        m = (bits >> 31) != 0 ? -magnitude : magnitude;
        sh = 150 - int((bits >> 23) & 0xFF); // 8..36 for these slopes
    }
};

inline float SpanSlope(int vp, int v, int len) {
    return float(v - vp) / float(len);
}

inline int TruncShift(int64_t t, int sh) {
    const int64_t mask = (int64_t{1} << sh) - 1;
    return int((t >> sh) + int64_t(t < 0 && (t & mask) != 0)); // towards zero
}

// Cells 0..len (and up to 15 beyond, which later spans or the empty tail overwrite) of a
// span whose values keep one sign, in fixed blocks of 16 so the loop is predictable.
// With t = vp * 2^sh, cell j is vp + floor(j * m / 2^sh); each block splits j * m into
// a whole part and a remainder below 2^sh, so for sh <= 30 the 16 cells of a block are
// 32-bit sums the compiler can vectorise. For values <= 0, truncation towards zero is the
// negated floor of the negated value.
template <bool NEGATIVE> inline void FillBlocks(int16_t* out, int len, int vp, int64_t m, int sh) {
    if (NEGATIVE) {
        vp = -vp;
        m = -m;
    }
    const int64_t mask = (int64_t{1} << sh) - 1;
    int64_t t = 0; // j * m at the start of the block
    for (int j = 0; j <= len; j += 16, t += 16 * m) {
        const int32_t whole = int32_t(vp + (t >> sh));
        const int32_t rest = int32_t(t & mask);
        if (sh <= 30) {
            const int32_t m32 = int32_t(m);
            for (int32_t u = 0; u < 16; ++u) {
                const int32_t x = whole + ((rest + u * m32) >> sh);
                out[j + u] = int16_t(NEGATIVE ? -x : x);
            }
        } else {
            for (int u = 0; u < 16; ++u) {
                const int64_t x = whole + ((rest + u * m) >> sh);
                out[j + u] = int16_t(NEGATIVE ? -x : x);
            }
        }
    }
}

// Interpolates cells zp..z from vp (the value at zp) to v (the value at z) along the
// span's slope. With `overrun`, up to 15 cells past z inside the column may be
// overwritten too.
inline void FillSpan(int16_t* col, int zp, int vp, int z, int v, const TSlope& s, bool overrun) {
    const int len = z - zp;
    int16_t* out = col + zp;
    const bool room = overrun && z + 16 <= int(CALIBR_ZSLOTS);
    if (s.m == 0) {
        if (room) {
            const int16_t value = int16_t(vp);
            for (int j = 0; j <= len; j += 16)
                for (int u = 0; u < 16; ++u)
                    out[j + u] = value;
        } else {
            std::fill(out, out + len + 1, int16_t(vp));
        }
        return;
    }
    // Values between vp and v, off by less than one: v > 0 keeps them non-negative,
    // v < 0 keeps them at or below zero.
    if (room && vp >= 0 && v > 0) {
        FillBlocks<false>(out, len, vp, s.m, s.sh);
    } else if (room && vp <= 0 && v < 0) {
        FillBlocks<true>(out, len, vp, s.m, s.sh);
    } else {
        int64_t t = int64_t(vp) * (int64_t{1} << s.sh);
        for (int j = 0; j <= len; ++j, t += s.m)
            out[j] = int16_t(TruncShift(t, s.sh));
    }
}

// The cells of a built column that carry a value, ascending (n of them), and for span i
// (from point i - 1 to point i) its slope and the value it starts from: the previous
// span leaves the end cell as its own slope gives it, and the next span starts there.
struct TColumnPoints {
    uint16_t z[CALIBR_ZSLOTS];
    int16_t v[CALIBR_ZSLOTS];
    int16_t start[CALIBR_ZSLOTS + 1];
    TSlope slope[CALIBR_ZSLOTS];
    size_t n = 0;

    void Collect(const TColumn& column) {
        n = 0;
        for (unsigned w = 0; w < CALIBR_ZSLOTS / 64; ++w) {
            for (uint64_t bits = column.written[w]; bits != 0; bits &= bits - 1) {
                const unsigned slot = w * 64 + unsigned(std::countr_zero(bits));
                const int16_t value = column.cells[slot];
                z[n] = uint16_t(slot);
                v[n] = value;
                n += value != EMPTY_CELL; // a value that reads as "no value" is no value
            }
        }
        if (n > 0)
            start[1] = v[0];
    }
    void Chain(size_t i) {
        const int vp = start[i];
        const int len = z[i] - z[i - 1];
        const TSlope s = v[i] == vp ? TSlope() : TSlope(SpanSlope(vp, v[i], len));
        slope[i] = s;
        start[i + 1] = int16_t(
            s.m == 0 ? vp : TruncShift(int64_t(vp) * (int64_t{1} << s.sh) + int64_t(len) * s.m, s.sh));
    }
    void Write(int16_t* col) const {
        if (n == 0) {
            std::fill(col, col + CALIBR_ZSLOTS, EMPTY_CELL);
            return;
        }
        for (size_t i = 1; i < n; ++i)
            FillSpan(col, z[i - 1], start[i], z[i], v[i], slope[i], true);
        std::fill(col, col + z[0], EMPTY_CELL);
        std::fill(col + z[n - 1] + 1, col + CALIBR_ZSLOTS, EMPTY_CELL);
    }
};

// Columns are finished in groups: the start values form one dependent chain of divisions
// per column, and working on several columns side by side lets those chains overlap.
constexpr unsigned COLUMN_GROUP = 4;
// Columns drawn together: each step's pieces are looked up once for all of them.
constexpr unsigned DRAW_GROUP = 16;
static_assert(CALIBR_COLUMNS % DRAW_GROUP == 0 && DRAW_GROUP % COLUMN_GROUP == 0);

void FinishColumns(TColumn* columns, TColumnPoints* points) {
    size_t common = SIZE_MAX;
    for (unsigned g = 0; g < COLUMN_GROUP; ++g) {
        points[g].Collect(columns[g]);
        common = std::min(common, points[g].n);
    }
    size_t i = 1;
    for (; i < common; ++i)
        for (unsigned g = 0; g < COLUMN_GROUP; ++g)
            points[g].Chain(i);
    for (unsigned g = 0; g < COLUMN_GROUP; ++g) {
        for (size_t j = i; j < points[g].n; ++j)
            points[g].Chain(j);
        points[g].Write(columns[g].cells);
    }
}

// Per step, the first piece that reaches the current group of columns; advanced as the
// columns grow.
struct TCursor {
    std::vector<uint32_t> at;
    explicit TCursor(const TPieces& p) : at(p.first.begin(), p.first.end() - 1) {}
};

// Applies the pieces of step k to columns col0 .. col0 + DRAW_GROUP - 1. Only the order of
// the writes into one column matters: pieces meeting at a centre column are drawn left
// first in the rising direction and right first in the falling one, as the walk does.
template <typename TWrite>
void DrawStepGroup(const TPieces& p, TCursor& cursor, unsigned k, int col0, bool rising, TWrite&& write) {
    const int col1 = col0 + int(DRAW_GROUP) - 1;
    const uint32_t end = p.first[k + 1];
    uint32_t first = cursor.at[k];
    while (first < end && p.pieces[first].hi < col0)
        ++first;
    cursor.at[k] = first;
    uint32_t last = first;
    while (last < end && p.pieces[last].lo <= col1)
        ++last;
    auto draw = [&](const TPiece& piece) {
        const int lo = std::max<int>(piece.lo, col0);
        const int hi = std::min<int>(piece.hi, col1);
        for (int col = lo; col <= hi; ++col)
            write(piece, col, rising ? col - piece.lo : piece.hi - col);
    };
    if (rising) {
        for (uint32_t i = first; i < last; ++i)
            draw(p.pieces[i]);
    } else {
        for (uint32_t i = last; i-- > first;)
            draw(p.pieces[i]);
    }
}

// Builds a whole table, DRAW_GROUP columns at a time: draw_step(k, col0, columns) applies
// step k to the group, steps in increasing order; then the group is interpolated.
template <typename TDrawStep> void BuildColumns(int16_t (*table)[CALIBR_ZSLOTS], TDrawStep&& draw_step) {
    TColumn columns[DRAW_GROUP];
    const auto points = std::make_unique<TColumnPoints[]>(COLUMN_GROUP);
    for (unsigned col0 = 0; col0 < CALIBR_COLUMNS; col0 += DRAW_GROUP) {
        for (unsigned g = 0; g < DRAW_GROUP; ++g)
            columns[g].Begin(table[col0 + g]);
        for (unsigned k = 0; k < CALIBR_STEPS; ++k)
            draw_step(k, col0, columns);
        for (unsigned g = 0; g < DRAW_GROUP; g += COLUMN_GROUP)
            FinishColumns(columns + g, points.get());
    }
}

float RunStepPitch(uint16_t rz) {
    float s = float((rz * 1000 + rz * 100) * 0.002L);
    s = float(std::floor((s + 6.25L) * 0.08L));
    return float(12.5L * s);
}

void BuildZ(TCalibrationState& state, const TCentreLists& lists, uint16_t rz) {
    state.Calibr_Step_Um = RunStepPitch(rz);
    std::vector<int16_t> zk(CALIBR_STEPS);
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        // Stage travel from the first capture in units of RZ / 4096.
        const long double travel = (long double)(long long)((long double)k * 4096 * state.Calibr_Step_Um);
        zk[k] = int16_t((long long)(travel / ((long double)rz * 1000)));
    }
    TPieces p;
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        const uint32_t b = lists.first[k];
        AddPieces(lists.centres.data() + b, lists.first[k + 1] - b, true, 0.0f, p.pieces);
        p.first[k + 1] = uint32_t(p.pieces.size());
    }
    TCursor cursor(p);
    BuildColumns(state.Calibr_Table_Z.get(), [&](unsigned k, unsigned col0, TColumn* columns) {
        const int16_t value = zk[k];
        DrawStepGroup(p, cursor, k, int(col0), true, [&](const TPiece& piece, int col, int j) {
            columns[unsigned(col) - col0].Put(PieceSlot(piece, j), value);
        });
    });
}

void BuildX(TCalibrationState& state, const TCentreLists& lists, uint16_t zl, uint16_t zr, uint16_t xe) {
    state.Calibr_Step_Um = CALIBR_FEATURE_PITCH_UM;
    const float pitch = state.Calibr_Step_Um;
    TPieces up;
    TPieces down;
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        const TCentre* b = lists.centres.data() + lists.first[k];
        const TCentre* e = lists.centres.data() + lists.first[k + 1];
        const TCentre* from_zl = std::find_if(b, e, [&](const TCentre& c) { return c.column >= zl; });
        const TCentre* past_zr = std::find_if(b, e, [&](const TCentre& c) { return c.column > zr; });
        AddPieces(from_zl, uint32_t(e - from_zl), true, pitch, up.pieces);
        AddPieces(b, uint32_t(past_zr - b), false, pitch, down.pieces);
        up.first[k + 1] = uint32_t(up.pieces.size());
        down.first[k + 1] = uint32_t(down.pieces.size());
    }
    const TXScale scale(xe);
    TCursor up_cursor(up);
    TCursor down_cursor(down);
    BuildColumns(state.Calibr_Table_X.get(), [&](unsigned k, unsigned col0, TColumn* columns) {
        auto write = [&](const TPiece& piece, int col, int j) {
            columns[unsigned(col) - col0].Put(PieceSlot(piece, j), scale(piece, j));
        };
        DrawStepGroup(up, up_cursor, k, int(col0), true, write);
        DrawStepGroup(down, down_cursor, k, int(col0), false, write);
    });
}

} // namespace

std::vector<uint16_t> StepMajorData(const TCalibrationState& state) {
    const auto& D = state.Calibr_Data;
    // Transposed in tiles so both sides stay in the cache.
    std::vector<uint16_t> rows(size_t{CALIBR_STEPS} * CALIBR_COLUMNS);
    constexpr unsigned TILE = 32;
    for (unsigned c0 = 0; c0 < CALIBR_COLUMNS; c0 += TILE)
        for (unsigned k0 = 0; k0 < CALIBR_STEPS; k0 += TILE)
            for (unsigned c = c0; c < std::min(c0 + TILE, CALIBR_COLUMNS); ++c)
                for (unsigned k = k0; k < std::min(k0 + TILE, CALIBR_STEPS); ++k)
                    rows[size_t{k} * CALIBR_COLUMNS + c] = D[c][k];
    return rows;
}

void ExtractCentres(TCalibrationState& state, uint16_t xl, uint16_t xr) {
    ExtractAllCentres(state, xl, xr);
}

void BuildZTable(TCalibrationState& state, uint16_t rz) {
    BuildZ(state, GatherCentres(state), rz);
}

void BuildXTable(TCalibrationState& state, uint16_t zl, uint16_t zr, uint16_t xe) {
    BuildX(state, GatherCentres(state), zl, zr, xe);
}

void FillAlongZ(int16_t* column) {
    int zp = -1;
    for (int z = 0; z < int(CALIBR_ZSLOTS); ++z) {
        if (column[z] == EMPTY_CELL)
            continue;
        if (zp >= 0) {
            const int vp = column[zp];
            const int v = column[z];
            FillSpan(column, zp, vp, z, v, v == vp ? TSlope() : TSlope(SpanSlope(vp, v, z - zp)), false);
        }
        zp = z;
    }
}

const char* TableMethodName(TTableMethod method) {
    return method == TTableMethod::Classic ? "classic" : "fitted";
}

TCalibrResult Calculate(TCalibrationState& state, const TTableParams& params, TTableMethod method) {
    TCalibrResult r = CheckTableParams(params);
    if (!r.Ok())
        return r;
    if (method == TTableMethod::Fitted) {
        BuildFittedTables(state, params);
        return r;
    }
    const TCentreLists lists = ExtractAllCentres(state, params.xl, params.xr);
    BuildZ(state, lists, params.rz);
    BuildX(state, lists, params.zl, params.zr, params.xe);
    return r;
}

std::vector<TCalibrPoint> CentrePoints(const TCalibrationState& state) {
    const TCentreLists lists = GatherCentres(state);
    std::vector<TCalibrPoint> points;
    points.reserve(lists.centres.size());
    for (const TCentre& c : lists.centres)
        points.push_back({c.column, c.value});
    return points;
}

std::vector<TCalibrPoint> StepViewPoints(const TCalibrationState& state, int step_index) {
    std::vector<TCalibrPoint> points;
    if (step_index < 0 || step_index > CALIBR_MAX_STEP_INDEX)
        return points;
    points.reserve(CALIBR_COLUMNS);
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        points.push_back({uint16_t(c), state.Calibr_Data[c][step_index]});
    return points;
}

bool ResetPoint(TCalibrationState& state, int data_index, int step_index, std::vector<TCalibrPoint>& view) {
    if (data_index < 0 || data_index > CALIBR_MAX_DATA_INDEX || step_index < 0 ||
        step_index > CALIBR_MAX_STEP_INDEX)
        return false;
    state.Calibr_Data[data_index][step_index] = 0;
    view = StepViewPoints(state, step_index);
    return true;
}

} // namespace zq455
