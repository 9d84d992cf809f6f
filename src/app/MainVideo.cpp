// The VIDEO page of TForm_Main: one raw camera frame on request, shown with its 7-bit grey
// levels doubled into the black-to-red palette, the region of interest drawn on it with the
// left button (it rewrites the two ROI user parameters, nothing is sent), the frame rate that
// region allows, and the frame saved as an 8-bit bitmap with the right button.

#include "CameraAids.h"
#include "DisplayText.h"
#include "Main.h"
#include "ParameterEditors.h"
#include "WaitCursor.h"
#include "link/ResultCodes.h"
#include "view/BitmapFile.h"
#include "view/ProfileFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace zq455 {
namespace {

constexpr const char* BITMAP_FILTER = "All files(*.*)|*.*|BitMap files(*.bmp)|*.bmp";
constexpr int BITMAP_FILTER_INDEX = 2;

constexpr int MIN_BAR_WIDTH = 8;
constexpr qint64 PROGRESS_REDRAW_MS = 100;

// The frame area's vertical bar takes only the room the page leaves beside the frame's 640
// columns, so the frame never has to scroll sideways.
class TFrameScrollBar : public QScrollBar {
public:
    explicit TFrameScrollBar(QScrollArea* area) : QScrollBar(Qt::Vertical), Area(area) {}
    QSize sizeHint() const override {
        QSize size = QScrollBar::sizeHint();
        const int room = Area->width() - 2 * Area->frameWidth() - FRAME_WIDTH;
        if (room >= MIN_BAR_WIDTH && room < size.width())
            size.setWidth(room);
        return size;
    }

private:
    QScrollArea* Area;
};

// The drag's state lives in the window's shared state; TRoiDrag works on a copy of it.
template <typename TStep> bool StepRoiDrag(TForm_Main& form, TStep step) {
    TRoiDrag drag;
    drag.roi = form.Video_ROI;
    drag.previous = form.Video_ROI_Prev;
    drag.dragging = form.ROI_Dragging;
    drag.fps = form.Video_Fps;
    const bool changed = step(drag);
    form.Video_ROI = drag.roi;
    form.Video_ROI_Prev = drag.previous;
    form.ROI_Dragging = drag.dragging;
    form.Video_Fps = drag.fps;
    return changed;
}

} // namespace

void TForm_Main::BuildVideoPage() {
    Video_Buffer.assign(VIDEO_FRAME_CAPACITY, 0);
    // The page is shorter than the frame's 512 lines, so the frame's area scrolls; inside it
    // the paint box sits at the frame's own offsets, as on the camera.
    ScrollBox_Video = new QScrollArea(TabSheet_Video);
    ScrollBox_Video->setObjectName("ScrollBox_Video");
    ScrollBox_Video->setFrameShape(QFrame::NoFrame);
    ScrollBox_Video->setWidgetResizable(false);
    ScrollBox_Video->setVerticalScrollBar(new TFrameScrollBar(ScrollBox_Video));
    auto* frame_area = new QWidget;
    frame_area->setObjectName("Panel_Video_Frame");
    frame_area->setFixedSize(FRAME_WIDTH, FRAME_HEIGHT);
    ScrollBox_Video->setWidget(frame_area);
    Camera_Aids = new TCameraAids(TabSheet_Video);
    connect(Camera_Aids->CheckBox_Video_Saturation, &QCheckBox::toggled, this, [this](bool on) {
        TCameraAids::MarkSaturation(*Video_Bitmap, on);
        PaintBox_BitMap->update();
    });
    auto* layout = new QVBoxLayout(TabSheet_Video);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ScrollBox_Video, 1);
    layout->addWidget(Camera_Aids);

    PaintBox_BitMap = new TPaintBox(frame_area);
    PaintBox_BitMap->setObjectName("PaintBox_BitMap");
    // Moves reach the handler with or without a button, as a paint box's do.
    PaintBox_BitMap->setMouseTracking(true);
    PaintBox_BitMap->OnPaint = [this](QPainter& canvas) { PaintBox_BitMapPaint(canvas); };
    PaintBox_BitMap->OnMouseDown = [this](Qt::MouseButton button, int x, int y) {
        PaintBox_BitMapMouseDown(button, x, y);
    };
    PaintBox_BitMap->OnMouseMove = [this](int x, int y) { PaintBox_BitMapMouseMove(x, y); };
    PaintBox_BitMap->OnMouseUp = [this](Qt::MouseButton button, int x, int y) {
        PaintBox_BitMapMouseUp(button, x, y);
    };

    connect(Button_Get_Video, &QPushButton::clicked, this, [this] { Button_Get_VideoClick(); });
}

namespace {

QString FrameProgressText(uint32_t done, uint32_t rows, uint32_t width, uint32_t baud) {
    return QString("Receiving the frame: line %1 of %2\n%3 x %2 pixels, about %4 s at %5 bit/s")
        .arg(done)
        .arg(rows)
        .arg(width)
        .arg(FrameReplySeconds(rows, width, baud), 0, 'f', 1)
        .arg(baud);
}

} // namespace

void TForm_Main::Button_Get_VideoClick() {
    // A whole frame takes seconds on the wire (3.6 s at 921600 bit/s, half a minute at 115200):
    // the lines are counted as they arrive, under the wait cursor.
    const TWaitCursor wait;
    const uint32_t baud = Sensor->connection.baud;
    const TRoi expected = RoiFromParameters(User_Params[USER_ROI_LEFT_WIDTH], User_Params[USER_ROI_TOP_HEIGHT]);
    const uint32_t expected_rows = static_cast<uint32_t>(std::clamp(expected.bottom - expected.top, 0, FRAME_HEIGHT));
    const uint32_t expected_width = static_cast<uint32_t>(std::clamp(expected.right - expected.left, 0, FRAME_WIDTH));
    QProgressDialog dialog(FrameProgressText(0, expected_rows, expected_width, baud), QString(), 0,
                           int(std::max<uint32_t>(expected_rows, 1)), this);
    PrepareProgressDialog(dialog, "ProgressDialog_Frame");
    ShowProgress(dialog);
    QApplication::processEvents();

    uint16_t rows = 0, width = 0, top = 0, left = 0;
    // The dialog is redrawn a few times a second, not for every line: a line comes every 7 ms
    // at 921600 bit/s, and painting each would hold the reads back behind the wire.
    QElapsedTimer since_shown;
    since_shown.start();
    auto progress = [&](uint32_t done, uint32_t lines, uint32_t pixels) {
        if (done < lines && since_shown.elapsed() < PROGRESS_REDRAW_MS)
            return;
        since_shown.restart();
        dialog.setMaximum(int(lines));
        dialog.setLabelText(FrameProgressText(done, lines, pixels, baud));
        dialog.setValue(int(done));
        QApplication::processEvents();
    };
    Sensor_Busy = true; // the calibration's timer keeps off the link meanwhile
    Sensor_Result = Sensor->GetVideo(Video_Buffer.data(), static_cast<uint32_t>(Video_Buffer.size()), rows,
                                     width, top, left, progress);
    Sensor_Busy = false;
    dialog.close();
    if (Sensor_Result)
        return;
    // A well-formed reply whose frame does not lie on the camera is not shown: nothing could
    // place it, and the bitmap is never larger than the camera's frame.
    if (!FrameFitsCamera(rows, width, top, left)) {
        Sensor_Result = RESULT_UNKNOWN_ERROR;
        return;
    }
    Video_Frame = {Video_Buffer.data(), width, rows, left, top};
    PaintBox_BitMap->setGeometry(left, top, width, rows);
    QImage bitmap(width, rows, QImage::Format_Indexed8);
    bitmap.setColorTable(Video_Bitmap->colorTable());
    FrameToPaletteIndexes(Video_Buffer.data(), width, rows, bitmap.bits(),
                          static_cast<size_t>(bitmap.bytesPerLine()));
    *Video_Bitmap = std::move(bitmap);
    PaintBox_BitMap->update();
}

void TForm_Main::Timer_RepaintTimer() {
    Timer_Repaint->stop();
    PaintBox_BitMap->repaint();
    Timer_Repaint->start();
}

void TForm_Main::PaintBox_BitMapPaint(QPainter& canvas) {
    if (Video_Bitmap)
        canvas.drawImage(0, 0, *Video_Bitmap);
    // The region is in frame pixels; the paint box starts at the frame's offsets.
    canvas.translate(-PaintBox_BitMap->x(), -PaintBox_BitMap->y());
    QPen pen(Qt::white, 1, Qt::DotLine);
    pen.setCosmetic(true);
    canvas.setPen(pen);
    canvas.setBrush(Qt::NoBrush);
    // The region covers columns left .. right - 1 and lines top .. bottom - 1; while a drag
    // runs up or left of its start the corners swap.
    const int x0 = std::min(Video_ROI.left, Video_ROI.right), x1 = std::max(Video_ROI.left, Video_ROI.right);
    const int y0 = std::min(Video_ROI.top, Video_ROI.bottom), y1 = std::max(Video_ROI.top, Video_ROI.bottom);
    canvas.drawRect(QRect(x0, y0, std::max(0, x1 - x0 - 1), std::max(0, y1 - y0 - 1)));
}

// The mouse handlers get paint-box pixels; the paint box sits at the frame's offsets on the
// camera, so the point under the mouse is that far into the frame.
void TForm_Main::PaintBox_BitMapMouseDown(Qt::MouseButton button, int x, int y) {
    x += PaintBox_BitMap->x();
    y += PaintBox_BitMap->y();
    if (button == Qt::LeftButton) {
        StepRoiDrag(*this, [&](TRoiDrag& drag) {
            drag.Press(x, y);
            return true;
        });
    } else if (button == Qt::RightButton) {
        SaveVideoBitmap();
    }
}

void TForm_Main::PaintBox_BitMapMouseMove(int x, int y) {
    x += PaintBox_BitMap->x();
    y += PaintBox_BitMap->y();
    Camera_Aids->Probe(Video_Frame, x, y);
    if (StepRoiDrag(*this, [&](TRoiDrag& drag) { return drag.Move(x, y); }))
        Panel_Freq->setText(QString::fromStdString(FrameRateText(Video_Fps)));
}

void TForm_Main::PaintBox_BitMapMouseUp(Qt::MouseButton button, int x, int y) {
    if (button != Qt::LeftButton)
        return;
    x += PaintBox_BitMap->x();
    y += PaintBox_BitMap->y();
    uint16_t left_width_cell = 0, top_height_cell = 0;
    const bool ended = StepRoiDrag(*this, [&](TRoiDrag& drag) {
        return drag.Release(x, y, User_Params[USER_ROI_LEFT_WIDTH], User_Params[USER_ROI_TOP_HEIGHT],
                            left_width_cell, top_height_cell);
    });
    if (!ended)
        return;
    // The editor's rows exist once a connect has filled it.
    QTableWidget* grid = Parameter_Editors->ValueListEditor_User_Parameters;
    if (QTableWidgetItem* cell = grid->item(USER_ROI_LEFT_WIDTH, 1))
        cell->setText(QString::number(left_width_cell));
    if (QTableWidgetItem* cell = grid->item(USER_ROI_TOP_HEIGHT, 1))
        cell->setText(QString::number(top_height_cell));
    Panel_Freq->setText(QString::fromStdString(FrameRateText(Video_Fps)));
}

void TForm_Main::SaveVideoBitmap() {
    SaveDialogData->Filter = BITMAP_FILTER;
    SaveDialogData->FilterIndex = BITMAP_FILTER_INDEX;
    SaveDialogData->DefaultExt = "bmp";
    const QString folder = Start_Dir + "/BMPFiles";
    // One level; a folder that cannot be made is not reported, the dialog opens all the same.
    if (!QDir(folder).exists())
        QDir().mkdir(folder);
    SaveDialogData->InitialDir = folder;
    if (!SaveDialogData->Execute())
        return;
    const QImage& bitmap = *Video_Bitmap;
    const std::string bytes =
        EncodeRedRampBitmap(static_cast<uint32_t>(bitmap.width()), static_cast<uint32_t>(bitmap.height()),
                            bitmap.constBits(), static_cast<size_t>(bitmap.bytesPerLine()));
    const TFileResult saved =
        WriteFileAtomically(QFile::encodeName(SaveDialogData->FileName).toStdString(), bytes);
    // Without a word a file that was not written would look saved.
    if (!saved.ok) {
        QMessageBox box(QMessageBox::Critical, APPLICATION_TITLE, QString::fromStdString(saved.message),
                        QMessageBox::Ok, this);
        ShowModal(box);
    }
}

} // namespace zq455
