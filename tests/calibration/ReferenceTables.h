#pragma once
#include "calibration/TableComputation.h"

namespace zq455::reference {

void ExtractCentres(TCalibrationState& state, uint16_t xl, uint16_t xr);
void BuildZTable(TCalibrationState& state, uint16_t rz);
void BuildXTable(TCalibrationState& state, uint16_t zl, uint16_t zr, uint16_t xe);
void FillAlongZ(int16_t* column);

} // namespace zq455::reference
