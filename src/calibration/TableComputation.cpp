#include "calibration/TableComputation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
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
void ExtractStep(uint16_t* row, int xl, int right, std::vector<TCentre>& out, std::vector<uint16_t>& removed) {
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

    // Step-major copy, transposed in tiles so both sides stay in the cache.
    std::vector<uint16_t> rows(size_t{CALIBR_STEPS} * CALIBR_COLUMNS);
    constexpr unsigned TILE = 32;
    for (unsigned c0 = 0; c0 < CALIBR_COLUMNS; c0 += TILE)
        for (unsigned k0 = 0; k0 < CALIBR_STEPS; k0 += TILE)
            for (unsigned c = c0; c < std::min(c0 + TILE, CALIBR_COLUMNS); ++c)
                for (unsigned k = k0; k < std::min(k0 + TILE, CALIBR_STEPS); ++k)
                    rows[size_t{k} * CALIBR_COLUMNS + c] = D[c][k];

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
inline long PieceSlot(const TPiece& p, int j) { return p.z0 + long(double(j) * double(p.slope)); }

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

// Interpolates cells zp..z from the values at both ends, as the float slope gives them:
// trunc(vp + j * slope), with slope = M / 2^sh exactly, evaluated in integers.
void FillSpan(int16_t* col, int zp, int z) {
    const int vp = col[zp];
    const int v = col[z];
    const int len = z - zp;
    const float slope = float(v - vp) / float(len);
    if (slope == 0.0f) {
        std::fill(col + zp, col + z + 1, int16_t(vp));
        return;
    }
    int exponent = 0;
    const float mantissa = std::frexp(slope, &exponent);
    const int64_t m = int64_t(std::ldexp(mantissa, 24)); // |m| in [2^23, 2^24)
    const int sh = 24 - exponent;                        // 8..38 for these slopes
    const int64_t mask = (int64_t{1} << sh) - 1;
    int64_t t = int64_t(vp) * (int64_t{1} << sh);
    for (int j = 0; j <= len; ++j, t += m) {
        // Towards zero: a negative value with a fraction rounds up.
        const int64_t q = (t >> sh) + int64_t(t < 0 && (t & mask) != 0);
        col[zp + j] = int16_t(q);
    }
}

// Interpolates a built column between the cells that got a value and empties the rest.
void FinishColumn(TColumn& column) {
    int16_t* col = column.cells;
    int first = -1;
    int zp = -1;
    for (unsigned w = 0; w < CALIBR_ZSLOTS / 64; ++w) {
        uint64_t bits = column.written[w];
        while (bits != 0) {
            const int z = int(w * 64 + unsigned(__builtin_ctzll(bits)));
            bits &= bits - 1;
            if (col[z] == EMPTY_CELL)
                continue; // a value that reads as "no value" is no value
            if (zp < 0)
                first = z;
            else
                FillSpan(col, zp, z);
            zp = z;
        }
    }
    if (first < 0) {
        std::fill(col, col + CALIBR_ZSLOTS, EMPTY_CELL);
        return;
    }
    std::fill(col, col + first, EMPTY_CELL);
    std::fill(col + zp + 1, col + CALIBR_ZSLOTS, EMPTY_CELL);
}

// Per step, the piece that reaches the current column; advanced as the column grows.
struct TCursor {
    std::vector<uint32_t> at;
    explicit TCursor(const TPieces& p) : at(p.first.begin(), p.first.end() - 1) {}

    // The piece of step k at or after `col` (one past the step's pieces when none is).
    uint32_t Advance(const TPieces& p, unsigned k, int col) {
        uint32_t i = at[k];
        const uint32_t end = p.first[k + 1];
        while (i < end && p.pieces[i].hi < col)
            ++i;
        return at[k] = i;
    }
};

// Applies the pieces of step k that reach `col`, in drawing order. Where two pieces meet
// at a centre column, the rising direction draws the left piece first, the falling one
// the right piece first.
template <typename TWrite>
void DrawStepColumn(const TPieces& p, TCursor& cursor, unsigned k, int col, bool rising, TWrite&& write) {
    const uint32_t i = cursor.Advance(p, k, col);
    const uint32_t end = p.first[k + 1];
    if (i == end || p.pieces[i].lo > col)
        return;
    const TPiece& a = p.pieces[i];
    const bool shared = a.hi == col && i + 1 < end;
    auto draw = [&](const TPiece& piece) { write(piece, rising ? col - piece.lo : piece.hi - col); };
    if (shared && !rising)
        draw(p.pieces[i + 1]);
    draw(a);
    if (shared && rising)
        draw(p.pieces[i + 1]);
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
        AddPieces(&lists.centres[b], lists.first[k + 1] - b, true, 0.0f, p.pieces);
        p.first[k + 1] = uint32_t(p.pieces.size());
    }
    TCursor cursor(p);
    TColumn column;
    for (int col = 0; col < int(CALIBR_COLUMNS); ++col) {
        column.Begin(state.Calibr_Table_Z[col]);
        for (unsigned k = 0; k < CALIBR_STEPS; ++k)
            DrawStepColumn(p, cursor, k, col, true,
                           [&](const TPiece& piece, int j) { column.Put(PieceSlot(piece, j), zk[k]); });
        FinishColumn(column);
    }
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
    TColumn column;
    for (int col = 0; col < int(CALIBR_COLUMNS); ++col) {
        column.Begin(state.Calibr_Table_X[col]);
        auto write = [&](const TPiece& piece, int j) { column.Put(PieceSlot(piece, j), scale(piece, j)); };
        for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
            DrawStepColumn(up, up_cursor, k, col, true, write);
            DrawStepColumn(down, down_cursor, k, col, false, write);
        }
        FinishColumn(column);
    }
}

} // namespace

void ExtractCentres(TCalibrationState& state, uint16_t xl, uint16_t xr) { ExtractAllCentres(state, xl, xr); }

void BuildZTable(TCalibrationState& state, uint16_t rz) { BuildZ(state, GatherCentres(state), rz); }

void BuildXTable(TCalibrationState& state, uint16_t zl, uint16_t zr, uint16_t xe) {
    BuildX(state, GatherCentres(state), zl, zr, xe);
}

void FillAlongZ(int16_t* column) {
    int zp = -1;
    for (int z = 0; z < int(CALIBR_ZSLOTS); ++z) {
        if (column[z] == EMPTY_CELL)
            continue;
        if (zp >= 0)
            FillSpan(column, zp, z);
        zp = z;
    }
}

TCalibrResult Calculate(TCalibrationState& state, const TTableParams& params) {
    TCalibrResult r = CheckTableParams(params);
    if (!r.Ok())
        return r;
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
