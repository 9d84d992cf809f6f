#pragma once
// The picture of a calibration check's Z error map: X across, the stage position (the expected
// height) up, each cell coloured on a diverging scale (blue below, white at 0, red above) whose
// ends are the larger of the field tolerance and the largest cell, with its legend in um.
// The check panel paints it, the report gets it as a PNG. Qt Gui only, no widgets, so the
// command-line tool can draw it without a display (on the offscreen platform).

#include "calibration/CalibrationState.h"
#include "calibration/Verification.h"

#include <QImage>
#include <QRectF>
#include <string>

class QPainter;

namespace zq455 {

// The scale's ends: the tolerance, or the largest |cell| where that is larger.
double ErrorMapScaleUm(const TVerifyResult& result, double tolerance_um);

// Paints the map, its axes and its legend into `area`.
void PaintErrorMap(QPainter& painter, const QRectF& area, const TVerifyResult& result, double tolerance_um);

QImage ErrorMapImage(const TVerifyResult& result, double tolerance_um, int width = 640, int height = 400);

// Writes the picture as PNG, whole or not at all; the message names the file.
TCalibrResult WriteErrorMapPng(const std::string& path, const TVerifyResult& result, double tolerance_um);

// A program without a window (the command-line tool) needs a Gui application for the fonts:
// makes one on the offscreen platform unless one exists.
void EnsurePictureApplication();

} // namespace zq455
