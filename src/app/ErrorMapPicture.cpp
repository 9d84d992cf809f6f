#include "ErrorMapPicture.h"

#include "calibration/VerificationReport.h"
#include "view/ProfileFile.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zq455 {
namespace {

const QColor EMPTY_COLOUR(225, 225, 225);
const QColor FRAME_COLOUR(90, 90, 90);
constexpr int LEGEND_STEPS = 64;

QFont PictureFont(int pixels) {
    QFont font;
    font.setFamilies({"DejaVu Sans", "Liberation Sans", "Arial", "Noto Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}

// Blue (-1) through white (0) to red (+1), the ends a little darker.
QColor Diverging(double t) {
    t = std::clamp(t, -1.0, 1.0);
    const double a = std::abs(t);
    const int fade = int(std::lround(255 * (1.0 - a)));
    const int full = int(std::lround(255 - 75 * a * a));
    return t < 0 ? QColor(fade, fade, full) : QColor(full, fade, fade);
}

QString Number(double value) {
    return QString::fromStdString(FixedText(value));
}

} // namespace

double ErrorMapScaleUm(const TVerifyResult& result, double tolerance_um) {
    double largest = 0;
    for (double e : result.map.error_um)
        if (!std::isnan(e))
            largest = std::max(largest, std::abs(e));
    return std::max({tolerance_um, largest, 1.0});
}

void PaintErrorMap(QPainter& painter, const QRectF& area, const TVerifyResult& result, double tolerance_um) {
    const TZErrorMap& map = result.map;
    const double scale = ErrorMapScaleUm(result, tolerance_um);
    const int text = std::max(9, int(area.height() / 24));
    painter.save();
    painter.setFont(PictureFont(text));
    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height();
    const double legend_width = metrics.horizontalAdvance("-0000.00") + 18;
    const QRectF plot(area.left() + metrics.horizontalAdvance("00.0") + 8, area.top() + line * 1.2,
                      area.width() - legend_width - metrics.horizontalAdvance("00.0") - 16,
                      area.height() - line * 3.4);
    painter.fillRect(area, Qt::white);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(area.left(), area.top(), plot.right() - area.left(), line), Qt::AlignHCenter,
                     "Z error over the field");

    // The X extent of the cells over all rows.
    double x_min = 0, x_max = 0;
    bool any = false;
    for (size_t i = 0; i < map.x_mm.size(); ++i)
        if (!std::isnan(map.x_mm[i])) {
            x_min = any ? std::min(x_min, map.x_mm[i]) : map.x_mm[i];
            x_max = any ? std::max(x_max, map.x_mm[i]) : map.x_mm[i];
            any = true;
        }
    const double z_min = map.z_mm.empty() ? 0 : map.z_mm.front();
    const double z_max = map.z_mm.empty() ? 1 : map.z_mm.back();
    if (!any || x_max <= x_min) {
        x_min = -1;
        x_max = 1;
    }
    auto px = [&](double x) { return plot.left() + (x - x_min) / (x_max - x_min) * plot.width(); };
    painter.fillRect(plot, EMPTY_COLOUR);
    const double row_height = map.rows ? plot.height() / map.rows : plot.height();
    for (unsigned r = 0; r < map.rows; ++r) {
        // The near end at the bottom.
        const double top = plot.bottom() - (r + 1) * row_height;
        // The cells with points, each drawn from half-way to the one on its left to half-way to
        // the one on its right: the dark gaps between the target's stripes carry no points.
        std::vector<unsigned> cells;
        for (unsigned b = 0; b < map.bins; ++b)
            if (!std::isnan(map.Error(r, b)))
                cells.push_back(b);
        for (size_t i = 0; i < cells.size(); ++i) {
            const double x = map.X(r, cells[i]);
            const double before = i > 0 ? map.X(r, cells[i - 1]) : NAN;
            const double after = i + 1 < cells.size() ? map.X(r, cells[i + 1]) : NAN;
            const double left = std::isnan(before) ? x : (before + x) / 2;
            const double right = std::isnan(after) ? x : (x + after) / 2;
            painter.fillRect(QRectF(QPointF(px(left), top),
                                    QPointF(std::max(px(right), px(left) + 1.0), top + row_height + 0.5)),
                             Diverging(map.Error(r, cells[i]) / scale));
        }
    }
    painter.setPen(FRAME_COLOUR);
    painter.drawRect(plot);

    // Axes: X under the map, the height on its left.
    painter.setPen(Qt::black);
    for (int i = 0; i <= 4; ++i) {
        const double x = x_min + (x_max - x_min) * i / 4;
        const double at = px(x);
        painter.drawLine(QPointF(at, plot.bottom()), QPointF(at, plot.bottom() + 3));
        const Qt::Alignment align = i == 0 ? Qt::AlignLeft : i == 4 ? Qt::AlignRight : Qt::AlignHCenter;
        const double from = i == 0 ? at : i == 4 ? at - 80 : at - 40;
        painter.drawText(QRectF(from, plot.bottom() + 3, 80, line), align, QString::number(x, 'f', 1));
        const double z = z_min + (z_max - z_min) * i / 4;
        const double y = plot.bottom() - row_height / 2 - (plot.height() - row_height) * i / 4;
        painter.drawText(QRectF(area.left(), y - line / 2, plot.left() - area.left() - 4, line),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(z, 'f', 1));
    }
    painter.drawText(QRectF(plot.left(), plot.bottom() + line + 2, plot.width(), line), Qt::AlignHCenter,
                     "X, mm (height, mm, up)");

    // Legend: the scale from -S at the bottom to +S at the top.
    const QRectF bar(plot.right() + 10, plot.top(), 12, plot.height());
    for (int i = 0; i < LEGEND_STEPS; ++i) {
        const double t = 1.0 - 2.0 * (i + 0.5) / LEGEND_STEPS;
        painter.fillRect(QRectF(bar.left(), bar.top() + bar.height() * i / LEGEND_STEPS, bar.width(),
                                bar.height() / LEGEND_STEPS + 0.5),
                         Diverging(t));
    }
    painter.setPen(FRAME_COLOUR);
    painter.drawRect(bar);
    painter.setPen(Qt::black);
    const double marks[] = {scale, 0.0, -scale};
    for (int i = 0; i < 3; ++i) {
        const double y = bar.top() + bar.height() * i / 2;
        painter.drawText(QRectF(bar.right() + 3, y - line / 2, legend_width, line),
                         Qt::AlignLeft | Qt::AlignVCenter, Number(marks[i]));
    }
    painter.drawText(QRectF(bar.left() - 2, plot.top() - line - 1, legend_width, line), Qt::AlignLeft, "um");
    painter.restore();
}

QImage ErrorMapImage(const TVerifyResult& result, double tolerance_um, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintErrorMap(painter, QRectF(0, 0, width, height), result, tolerance_um);
    painter.end();
    return image;
}

TCalibrResult WriteErrorMapPng(const std::string& path, const TVerifyResult& result, double tolerance_um) {
    EnsurePictureApplication();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!ErrorMapImage(result, tolerance_um).save(&buffer, "PNG"))
        return {TCalibrStatus::FileError, "The picture of the map could not be made for " + path + "."};
    const TFileResult written =
        WriteFileAtomically(path, std::string(bytes.constData(), size_t(bytes.size())));
    if (!written.ok)
        return {TCalibrStatus::FileError, written.message};
    return {};
}

void EnsurePictureApplication() {
    if (QCoreApplication::instance())
        return;
    // Fonts need a Gui application; without a display the offscreen platform serves.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Only what would be a fault reaches the tool's error output, not the platform's notes
    // (a missing runtime folder, fonts looked up).
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    static int argc = 1;
    static char name[] = "zq455";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}

} // namespace zq455
