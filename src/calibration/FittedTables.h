#pragma once
// The default computation of "Calculate": the same inputs, edits and outputs as the classic
// passes of TableComputation.h (Calibr_Centres, the Z and X tables, outliers removed from
// Calibr_Data), but the tables are made from smooth fits of what the run measured instead of
// polylines between segment centres and straight lines along z. Where it differs and why:
//
// - Z uses every value of a step, not only the segment centres: the line of a step is fitted
//   across the columns with a local quadratic, so the columns past the outermost centres
//   (the frame's edges) have a Z at every step, measured by the cut segments there, and a
//   column between two segments gets the line's curve, not its chord.
// - Along the run each column's line position is smoothed over a few steps and the table's
//   z-slots are found by inverting it, so no cell is bridged across hundreds of steps and the
//   noise of one capture averages out.
// - The outlier filter keeps its limit (180) but measures it from the fitted line, not from
//   one reference level per step: a bent or tilted line stays whole.
// - X: a segment's centre is the middle of its columns (the classic centre lies half a column
//   to one column to the right), only whole segments count, the zero stripe is the one centre
//   between the zero edits (the nearest to their middle when there are several or none, so
//   the two halves of the field cannot take two different zero stripes), a missing stripe
//   counts as a pitch, and X between and beyond the centres follows a local quadratic.
// - Stage travel and X are rounded to the nearest table unit, not truncated.
// - The tables reach a few steps beyond the first and last capture, so a surface at the very
//   ends of the range still has cells around it.

#include "calibration/CalibrationState.h"
#include "calibration/TableEdits.h"

namespace zq455 {

// Runs the fitted computation; `params` have passed CheckTableParams.
void BuildFittedTables(TCalibrationState& state, const TTableParams& params);

} // namespace zq455
