// The table passes written as plainly as the rules read, cell by cell in x87 extended
// precision. The production passes are restructured for speed; this copy pins their
// results bit for bit.

#include "ReferenceTables.h"

#include <cmath>
#include <cstdlib>

namespace zq455::reference {

void ExtractCentres(TCalibrationState& state, uint16_t xl, uint16_t xr) {
    auto& D = state.Calibr_Data;
    auto& C = state.Calibr_Centres;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned k = 0; k < CALIBR_STEPS; ++k)
            C[c][k] = 0;
    const int right = int(CALIBR_COLUMNS) - xr;
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        uint32_t sum = 0, count = 0;
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c) {
            if ((c < CALIBR_REFERENCE_BAND_LOW || c >= CALIBR_REFERENCE_BAND_HIGH) && D[c][k] != 0) {
                sum += D[c][k];
                ++count;
            }
        }
        const uint32_t ref = count ? sum / count : 0;
        for (int c = 0; c < right; ++c)
            if (D[c][k] != 0 && std::abs(int32_t(D[c][k]) - int32_t(ref)) > CALIBR_OUTLIER_LIMIT)
                D[c][k] = 0;
        int c = xl;
        while (c < right) {
            while (c < right && D[c][k] == 0)
                ++c;
            if (c >= right)
                break;
            const int s = c;
            uint16_t max = 0, min = 10000;
            int max_col = -1, min_col = -1;
            while (c < right && D[c][k] != 0) {
                if (D[c][k] > max) {
                    max = D[c][k];
                    max_col = c;
                }
                if (D[c][k] < min) {
                    min = D[c][k];
                    min_col = c;
                }
                ++c;
            }
            if (c >= right)
                break;
            const int len = c - s;
            const int m = s + (len + 1) / 2;
            uint32_t seg_sum = 0, seg_count = 0;
            if (len > 2) {
                for (int j = s; j < c; ++j)
                    if (j != max_col && j != min_col) {
                        seg_sum += D[j][k];
                        ++seg_count;
                    }
            } else {
                seg_sum = D[m][k];
                seg_count = 1;
            }
            if (seg_count > 0)
                C[m][k] = uint16_t((seg_sum + seg_count / 2) / seg_count);
        }
    }
}

static void Put(int16_t (*T)[CALIBR_ZSLOTS], long col, long slot, int16_t v) {
    if (col >= 0 && col < long(CALIBR_COLUMNS) && slot >= 0 && slot < long(CALIBR_ZSLOTS))
        T[col][slot] = v;
}

void FillAlongZ(int16_t* col) {
    int zp = -1;
    for (int z = 0; z < int(CALIBR_ZSLOTS); ++z) {
        if (col[z] == EMPTY_CELL)
            continue;
        if (zp >= 0) {
            const int vp = col[zp];
            const float slope = float((long double)(col[z] - vp) / (z - zp));
            for (int j = 0; j <= z - zp; ++j)
                col[zp + j] = int16_t((long long)(vp + j * (long double)slope));
        }
        zp = z;
    }
}

void BuildZTable(TCalibrationState& state, uint16_t rz) {
    auto& T = state.Calibr_Table_Z;
    auto& C = state.Calibr_Centres;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned z = 0; z < CALIBR_ZSLOTS; ++z)
            T[c][z] = EMPTY_CELL;
    float S = float((rz * 1000 + rz * 100) * 0.002L);
    S = float(std::floor((S + 6.25L) * 0.08L));
    state.Calibr_Step_Um = float(12.5L * S);
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        const long double travel = (long double)k * 4096 * state.Calibr_Step_Um;
        const int16_t zk = int16_t((long long)((long double)(long long)travel / ((long double)rz * 1000)));
        int cp = -1, zp = 0;
        for (int c = 0; c < int(CALIBR_COLUMNS); ++c) {
            if (C[c][k] == 0)
                continue;
            const int z = C[c][k];
            if (cp >= 0) {
                const float slope = float((long double)(z - zp) / (c - cp));
                for (int j = 0; j <= c - cp; ++j)
                    Put(T.get(), cp + j, zp + (long long)(j * (long double)slope), zk);
            }
            cp = c;
            zp = z;
        }
    }
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        FillAlongZ(T[c]);
}

void BuildXTable(TCalibrationState& state, uint16_t zl, uint16_t zr, uint16_t xe) {
    auto& T = state.Calibr_Table_X;
    auto& C = state.Calibr_Centres;
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        for (unsigned z = 0; z < CALIBR_ZSLOTS; ++z)
            T[c][z] = EMPTY_CELL;
    state.Calibr_Step_Um = CALIBR_FEATURE_PITCH_UM;
    const float P = state.Calibr_Step_Um;
    const long double scale = (long double)xe * 1000;
    for (unsigned k = 0; k < CALIBR_STEPS; ++k) {
        float acc = 0.0f;
        int cp = -1, zp = 0;
        for (int c = zl; c < int(CALIBR_COLUMNS); ++c) {
            if (C[c][k] == 0)
                continue;
            const int z = C[c][k];
            if (cp >= 0) {
                const float slope = float((long double)(z - zp) / (c - cp));
                const float dx = float(P / (long double)(c - cp));
                for (int j = 0; j <= c - cp; ++j)
                    Put(T.get(), cp + j, zp + (long long)(j * (long double)slope),
                        int16_t((long long)((j * (long double)dx + acc) * 4096 / scale)));
                acc = float(acc + (long double)P);
            }
            cp = c;
            zp = z;
        }
        acc = 0.0f;
        cp = -1;
        for (int c = zr; c >= 0; --c) {
            if (C[c][k] == 0)
                continue;
            const int z = C[c][k];
            if (cp >= 0) {
                const float slope = float((long double)(z - zp) / (cp - c));
                const float dx = float(P / (long double)(c - cp));
                for (int j = 0; j <= cp - c; ++j)
                    Put(T.get(), cp - j, zp + (long long)(j * (long double)slope),
                        int16_t((long long)((j * (long double)dx + acc) * 4096 / scale)));
                acc = float(acc - (long double)P);
            }
            cp = c;
            zp = z;
        }
    }
    for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
        FillAlongZ(T[c]);
}

} // namespace zq455::reference
