#include "app/Certificate.h"

#include "app/ErrorMapPicture.h"
#include "sensor/ParameterMap.h"
#include "view/ProfileFile.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>

namespace zq455 {
namespace {

std::string Um(double v) {
    return FixedText(v) + " um";
}
std::string Pct(double v) {
    return FixedText(v) + " %";
}

std::string PassText(bool ok) {
    return ok ? "pass" : "fail";
}

bool Failing(const TVerifyResult& result, const char* figure) {
    return std::find(result.failing.begin(), result.failing.end(), figure) != result.failing.end();
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The Z residual at each position against the stage position, as the check panel charts it.
void PaintResidualChart(QPainter& painter, const QRectF& area, const TVerifyResult& result) {
    painter.save();
    const QFontMetricsF metrics(painter.font());
    const double text_h = metrics.height();
    const QRectF plot =
        area.adjusted(metrics.horizontalAdvance("-00.0") + 8, text_h + 4, -4, -2 * text_h - 6);
    painter.drawText(QRectF(area.left(), area.top(), area.width(), text_h), Qt::AlignHCenter,
                     "Z residual, um, against the stage position, mm");
    painter.drawRect(plot);
    if (result.positions.size() >= 2) {
        double lo = 0;
        double hi = 0;
        for (const TVerifyPosition& p : result.positions) {
            lo = std::min(lo, p.residual_um);
            hi = std::max(hi, p.residual_um);
        }
        const double reach = std::max({std::abs(lo), std::abs(hi), 1.0}) * 1.1;
        const double x0 = result.positions.front().stage_mm;
        const double x1 = result.positions.back().stage_mm;
        auto at = [&](double x, double y) {
            return QPointF(plot.left() + (x - x0) / (x1 - x0) * plot.width(),
                           plot.center().y() - y / reach * plot.height() / 2);
        };
        painter.setPen(QPen(Qt::gray, 0, Qt::DashLine));
        painter.drawLine(at(x0, 0), at(x1, 0));
        QPainterPath path;
        for (size_t i = 0; i < result.positions.size(); ++i) {
            const QPointF p = at(result.positions[i].stage_mm, result.positions[i].residual_um);
            i == 0 ? path.moveTo(p) : path.lineTo(p);
        }
        painter.setPen(QPen(QColor(0, 0, 160), 2));
        painter.drawPath(path);
        painter.setPen(Qt::black);
        const QRectF left(area.left(), 0, plot.left() - area.left() - 4, text_h);
        painter.drawText(left.translated(0, plot.top() - text_h / 2), Qt::AlignRight,
                         QString::number(reach, 'f', 1));
        painter.drawText(left.translated(0, plot.bottom() - text_h / 2), Qt::AlignRight,
                         QString::number(-reach, 'f', 1));
        painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), text_h), Qt::AlignLeft,
                         QString::number(x0, 'f', 1));
        painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), text_h), Qt::AlignRight,
                         QString::number(x1, 'f', 1));
    }
    painter.restore();
}

} // namespace

std::vector<std::vector<std::string>> CertificateRows(const TVerifyResult& result, const TVerifyTolerances& t,
                                                      uint16_t rz) {
    const TVerifyFigures& f = result.figures;
    const double range_um = rz * 1000.0;
    auto of_range = [&](double pct) { return "max " + Pct(pct) + " (" + Um(pct / 100.0 * range_um) + ")"; };
    auto row = [&](const char* name, std::string value, std::string tolerance) {
        return std::vector<std::string>{name, std::move(value), std::move(tolerance),
                                        PassText(!Failing(result, name))};
    };
    return {
        row(FIGURE_Z_LINEARITY, Um(f.z_linearity_um) + " (" + Pct(f.z_linearity_pct) + ")",
            of_range(t.z_linearity_pct)),
        row(FIGURE_Z_SCALE, Pct(f.z_scale_pct), "max " + Pct(t.z_scale_pct)),
        row(FIGURE_Z_REPEATABILITY, Um(f.z_repeatability_um), "max " + Um(t.z_repeatability_um)),
        row(FIGURE_FLATNESS, Um(f.flatness_um) + " (" + Pct(f.flatness_pct) + ")", of_range(t.flatness_pct)),
        row(FIGURE_X_PITCH, Um(f.x_pitch_error_um), "max " + Um(t.x_pitch_um)),
        row(FIGURE_Z_OFFSET, Um(f.z_offset_um), of_range(t.z_offset_pct)),
        row(FIGURE_Z_FIELD, Um(f.z_field_error_um) + " (" + Pct(f.z_field_error_pct) + ")",
            of_range(t.z_field_pct)),
        row(FIGURE_X_FIELD, Um(f.x_field_error_um), "max " + Um(t.x_field_um)),
    };
}

TCalibrResult WriteCertificatePdf(const std::string& path, const TCertificateInfo& info,
                                  const TVerifyResult& result) {
    EnsurePictureApplication();
    const auto& id = info.report.identity;
    const TVerifySettings& s = info.report.settings;
    const uint16_t rz = id[IDENTITY_RANGE_Z];

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle("ZQ455 calibration certificate");
        pdf.setCreator("zq455 " ZQ455_VERSION);
        QPainter painter(&pdf);
        const double width = pdf.width();
        QFont font("DejaVu Sans");
        font.setPointSizeF(10);
        // Without shaping there are no ligatures, so "fi" stays two letters for whoever copies
        // or searches the text of the certificate.
        font.setStyleStrategy(QFont::PreferNoShaping);
        painter.setFont(font);
        const double line = QFontMetricsF(font, &pdf).height() * 1.15;
        double y = 0;
        auto text = [&](const QString& s, double x = 0, int flags = Qt::AlignLeft) {
            painter.drawText(QRectF(x, y, width - x, line), flags, s);
        };

        QFont title = font;
        title.setPointSizeF(16);
        title.setBold(true);
        painter.setFont(title);
        painter.drawText(QRectF(0, y, width, line * 2), Qt::AlignLeft, "Calibration certificate");
        y += line * 2;
        painter.setFont(font);

        const uint32_t serial =
            id[IDENTITY_SERIAL_LO] + (static_cast<uint32_t>(id[IDENTITY_SERIAL_HI]) << 16);
        const std::vector<std::pair<QString, QString>> head = {
            {"Sensor", QString("ZQ%1, modification %2, serial number %3").arg(id[0]).arg(id[1]).arg(serial)},
            {"Ranges", QString("base distance %1 mm, Z %2 mm, X %3 to %4 mm")
                           .arg(id[IDENTITY_BASE_DISTANCE])
                           .arg(rz)
                           .arg(id[IDENTITY_RANGE_XSMR])
                           .arg(id[IDENTITY_RANGE_XEMR])},
            {"Checked", Q(info.report.date_time)},
            {"Tool", "zq455 " ZQ455_VERSION},
            {"Computation", info.method.empty() ? QString("not known") : Q(info.method)},
            {"Check", QString("K = %1 positions from %2 um, N = %3 profiles, settle %4 ms, pitch %5 um")
                          .arg(s.positions)
                          .arg(s.begin_um)
                          .arg(s.profiles)
                          .arg(s.settle_ms)
                          .arg(s.pitch_um)},
        };
        for (const auto& [name, value] : head) {
            text(name + ":");
            text(value, width * 0.2);
            y += line;
        }
        QStringList edits;
        for (const auto& [name, value] : info.report.edits)
            edits << Q(name) + " " + Q(value);
        text("Edits:");
        text(edits.isEmpty() ? QString("not known") : edits.join(", "), width * 0.2);
        y += line;
        if (!info.entry_id.empty()) {
            text("Archive entry:");
            text(Q(info.entry_id) + (info.stored_at.empty() ? ", not stored in FLASH"
                                                            : ", stored in FLASH at " + Q(info.stored_at)),
                 width * 0.2);
            y += line;
        }
        y += line / 2;

        QFont bold = font;
        bold.setBold(true);
        painter.setFont(bold);
        const double cols[] = {0, width * 0.25, width * 0.55, width * 0.85};
        const char* header[] = {"Figure", "Measured", "Tolerance", "Result"};
        for (int c = 0; c < 4; ++c)
            text(header[c], cols[c]);
        y += line;
        painter.setFont(font);
        for (const auto& row : CertificateRows(result, s.tolerances, rz)) {
            for (int c = 0; c < 4; ++c)
                text(Q(row[c]), cols[c]);
            y += line;
        }
        text(QString("X scale error: %1 (not judged)").arg(Q(Pct(result.figures.x_scale_pct))));
        y += line * 1.5;
        painter.setFont(title);
        painter.drawText(QRectF(0, y, width, line * 2), Qt::AlignLeft | Qt::TextWordWrap,
                         result.passed ? "Result: pass" : Q("Result: " + VerdictText(result)));
        painter.setFont(font);
        y += line * 2.5;

        const double tolerance_um = s.tolerances.z_field_pct / 100.0 * rz * 1000.0;
        const double picture_h = (pdf.height() - y) * 0.55;
        PaintErrorMap(painter, QRectF(0, y, width, picture_h), result, tolerance_um);
        y += picture_h + line;
        PaintResidualChart(painter, QRectF(0, y, width, pdf.height() - y), result);
    }
    const TFileResult written =
        WriteFileAtomically(path, std::string(bytes.constData(), size_t(bytes.size())));
    if (!written.ok)
        return {TCalibrStatus::FileError, written.message};
    return {};
}

} // namespace zq455
