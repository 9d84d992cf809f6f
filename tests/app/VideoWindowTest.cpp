// The VIDEO page against the virtual sensor, offscreen: the frame fetch, the region of
// interest drawn with real mouse events on the paint box, the repaint and the bitmap file.

#include "WindowFixture.h"
#include "app/CameraAids.h"
#include "app/WaitCursor.h"
#include "link/ResultCodes.h"
#include "link/UsbDirectory.h"
#include "sensor/Protocol.h"
#include "support/BytePeer.h"
#include "view/FrameView.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

using namespace zq455;
using namespace zq455::test;
using namespace zq455::protocol;

namespace {

uint32_t Le32(const QByteArray& s, int at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
           static_cast<uint8_t>(s[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

uint16_t Le16(const QByteArray& s, int at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

class VideoWindow : public SetupWindow {
protected:
    void SetUp() override {
        SetupWindow::SetUp();
        ASSERT_TRUE(folder.isValid());
        window->Start_Dir = folder.path();
    }

    void ShowVideoPage() {
        Connect();
        window->PageControl_Interface->setCurrentWidget(window->TabSheet_Video);
        ASSERT_TRUE(window->Button_Get_Video->isEnabled());
    }

    // Loads one user parameter into the sensor; a load has no reply, so wait until it is taken.
    void LoadUser(unsigned index, uint16_t value) {
        const uint32_t before = demo->sensor->Counters().answered;
        ASSERT_EQ(window->Sensor->LoadUserParameter(static_cast<uint8_t>(index), value), RESULT_OK);
        ASSERT_TRUE(demo->sensor->WaitAnswered(before + 1));
    }

    void GetFrame() {
        window->Button_Get_Video->click();
        ASSERT_EQ(window->Sensor_Result, 0u);
    }

    // A left-button drag through the paint box's own mouse events, in paint-box pixels.
    void Drag(QPoint from, std::initializer_list<QPoint> moves, QPoint to) {
        TPaintBox* box = window->PaintBox_BitMap;
        QTest::mousePress(box, Qt::LeftButton, {}, from);
        for (QPoint at : moves)
            QTest::mouseMove(box, at);
        QTest::mouseRelease(box, Qt::LeftButton, {}, to);
    }

    QString RoiCell(unsigned index) {
        return Cell(window->Parameter_Editors->ValueListEditor_User_Parameters, static_cast<int>(index));
    }

    QTemporaryDir folder;
};

} // namespace

TEST_F(VideoWindow, FullFrameIsDoubledIntoTheRedRampAndShowsTheLaserLine) {
    ShowVideoPage();
    EXPECT_EQ(window->Panel_Freq->text(), "Freq.:98 fps");
    GetFrame();
    EXPECT_EQ(window->PaintBox_BitMap->geometry(), QRect(0, 0, 640, 512));
    const QImage& bitmap = *window->Video_Bitmap;
    ASSERT_EQ(bitmap.format(), QImage::Format_Indexed8);
    ASSERT_EQ(bitmap.size(), QSize(640, 512));
    ASSERT_EQ(bitmap.colorCount(), 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(bitmap.color(i), qRgb(i, 0, 0)) << i;
    // Column 100: the brightest line is where the scene puts the laser line.
    TSensorModel model;
    double x = 0, z = 0;
    ASSERT_TRUE(model.SceneHit(100, x, z));
    const int line_row = static_cast<int>(std::lround(model.LinePosition(100, z) / 10));
    int brightest = 0;
    for (int r = 0; r < 512; ++r) {
        const uint8_t pixel = window->Video_Buffer[static_cast<size_t>(r) * 640 + 100];
        ASSERT_EQ(bitmap.pixelIndex(100, r), 2 * pixel) << r;
        if (pixel > window->Video_Buffer[static_cast<size_t>(brightest) * 640 + 100])
            brightest = r;
    }
    EXPECT_EQ(brightest, line_row);
    const int default_peak = bitmap.pixelIndex(100, line_row);
    EXPECT_GT(default_peak, 150);
    EXPECT_LT(default_peak, 254);

    // Full laser power saturates the camera: pixel 127 shows as palette entry 254.
    LoadUser(USER_LASER_INTENSITY, 31);
    GetFrame();
    EXPECT_EQ(window->Video_Buffer[static_cast<size_t>(line_row) * 640 + 100], 127);
    EXPECT_EQ(window->Video_Bitmap->pixelIndex(100, line_row), 254);
    EXPECT_EQ(window->Video_Bitmap->pixelIndex(100, 5), 2 * window->Video_Buffer[5 * 640 + 100]);
}

TEST_F(VideoWindow, SmallerRoiGivesTheSmallerFrameAtItsPlace) {
    ShowVideoPage();
    // Left 10 % width 11 %, top 30 % height 20 %: 70 x 102 pixels at (64, 153).
    LoadUser(USER_ROI_LEFT_WIDTH, 10 + 11 * 128);
    LoadUser(USER_ROI_TOP_HEIGHT, 30 + 20 * 128);
    GetFrame();
    EXPECT_EQ(window->PaintBox_BitMap->geometry(), QRect(64, 153, 70, 102));
    ASSERT_EQ(window->Video_Bitmap->size(), QSize(70, 102));
    for (int r = 0; r < 102; ++r)
        for (int c = 0; c < 70; ++c)
            ASSERT_EQ(window->Video_Bitmap->pixelIndex(c, r), 2 * window->Video_Buffer[r * 70 + c])
                << c << " " << r;
    // The mouse points at frame pixels: paint-box pixel (1, 1) is frame pixel (65, 154), and
    // a drag from there over the rest of the camera ends at its corner.
    Drag(QPoint(1, 1), {QPoint(300, 300)}, QPoint(576, 359));
    EXPECT_EQ(window->Video_ROI, (TRoi{65, 154, 640, 512}));
    EXPECT_EQ(RoiCell(USER_ROI_LEFT_WIDTH), QString::number(10 + 89 * 128));
    EXPECT_EQ(RoiCell(USER_ROI_TOP_HEIGHT), QString::number(30 + 69 * 128));
    // The outline is drawn where the region lies on the frame: from the box's pixel (1, 1).
    const QImage shot = window->PaintBox_BitMap->grab().toImage();
    int white = 0;
    for (int r = 1; r < 102; ++r)
        white += shot.pixel(1, r) == qRgb(255, 255, 255);
    EXPECT_GT(white, 20);
    EXPECT_NE(shot.pixel(0, 50), qRgb(255, 255, 255));
}

TEST_F(VideoWindow, LeftDragDrawsTheRoiIntoTheUserGridAndTheFrameRate) {
    ShowVideoPage();
    GetFrame();
    window->User_Params[USER_ROI_LEFT_WIDTH] |= 0xC000;
    window->User_Params[USER_ROI_TOP_HEIGHT] |= 0x4000;
    TPaintBox* box = window->PaintBox_BitMap;

    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(64, 51));
    EXPECT_TRUE(window->ROI_Dragging);
    QTest::mouseMove(box, QPoint(200, 200));
    EXPECT_EQ(window->Panel_Freq->text(), Utf8(FrameRateText(ComputeFrameRate(136, 149, 0))));
    QTest::mouseMove(box, QPoint(384, 307));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(384, 307));
    EXPECT_FALSE(window->ROI_Dragging);
    EXPECT_EQ(window->Video_ROI, (TRoi{64, 51, 384, 307}));
    EXPECT_EQ(RoiCell(USER_ROI_LEFT_WIDTH), QString::number(10 + 50 * 128));
    EXPECT_EQ(RoiCell(USER_ROI_TOP_HEIGHT), QString::number(9 + 50 * 128));
    EXPECT_EQ(window->User_Params[USER_ROI_LEFT_WIDTH], 0xC000 | (10 + 50 * 128));
    EXPECT_EQ(window->User_Params[USER_ROI_TOP_HEIGHT], 0x4000 | (9 + 50 * 128));
    EXPECT_EQ(window->Panel_Freq->text(), "Freq.:320 fps");

    struct TCase {
        QPoint from;
        QPoint to;
        TRoi roi;
        uint16_t left_width_cell;
    };
    const TRoi kept{64, 51, 384, 307};
    const TCase cases[] = {
        {{10, 10}, {60, 200}, kept, 10 + 50 * 128},                    // 50 wide: the previous ROI comes back
        {{100, 100}, {900, 900}, {100, 100, 640, 512}, 15 + 84 * 128}, // clamped to the frame
        {{600, 10}, {700, 600}, {100, 100, 640, 512}, 15 + 84 * 128},  // at most 40 wide: refused
        {{576, 0}, {1000, 1000}, {576, 0, 640, 512}, 90 + 10 * 128},   // Lp = 90, Wp = 10
    };
    for (const TCase& c : cases) {
        Drag(c.from, {(c.from + c.to) / 2, c.to}, c.to);
        EXPECT_EQ(window->Video_ROI, c.roi) << c.from.x() << "," << c.from.y();
        EXPECT_EQ(RoiCell(USER_ROI_LEFT_WIDTH), QString::number(c.left_width_cell)) << c.from.x();
        EXPECT_EQ(window->User_Params[USER_ROI_LEFT_WIDTH], 0xC000 | c.left_width_cell);
    }

    // Up and left of its start: while it runs the rate is that of the rectangle on screen,
    // and the release makes the ROI the full frame.
    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(300, 300));
    QTest::mouseMove(box, QPoint(100, 152));
    EXPECT_EQ(window->Panel_Freq->text(), Utf8(FrameRateText(ComputeFrameRate(200, 148, 0))));
    QTest::mouseMove(box, QPoint(148, 299)); // -152 wide: the line time alone would be zero
    EXPECT_EQ(window->Panel_Freq->text(), Utf8(FrameRateText(ComputeFrameRate(152, 1, 0))));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(148, 299));
    EXPECT_EQ(window->Video_ROI, FULL_FRAME_ROI);
    EXPECT_EQ(RoiCell(USER_ROI_TOP_HEIGHT), QString::number(100 * 128));
    EXPECT_EQ(window->Panel_Freq->text(), "Freq.:98 fps");
}

TEST_F(VideoWindow, MouseWithoutALeftPressChangesNothing) {
    ShowVideoPage();
    GetFrame();
    const uint16_t before[2] = {window->User_Params[USER_ROI_LEFT_WIDTH],
                                window->User_Params[USER_ROI_TOP_HEIGHT]};
    const QString text = window->Panel_Freq->text();
    const QString cell = RoiCell(USER_ROI_LEFT_WIDTH);
    TPaintBox* box = window->PaintBox_BitMap;
    QTest::mouseMove(box, QPoint(10, 10));
    QTest::mouseMove(box, QPoint(300, 200));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(300, 200));
    // The right button saves (here: cancelled) and never draws.
    window->SaveDialogData->Run = [](TFileDialog&) { return false; };
    QTest::mousePress(box, Qt::RightButton, {}, QPoint(20, 20));
    QTest::mouseMove(box, QPoint(400, 400));
    QTest::mouseRelease(box, Qt::RightButton, {}, QPoint(400, 400));
    EXPECT_FALSE(window->ROI_Dragging);
    EXPECT_EQ(window->Video_ROI, FULL_FRAME_ROI);
    EXPECT_EQ(window->User_Params[USER_ROI_LEFT_WIDTH], before[0]);
    EXPECT_EQ(window->User_Params[USER_ROI_TOP_HEIGHT], before[1]);
    EXPECT_EQ(window->Panel_Freq->text(), text);
    EXPECT_EQ(RoiCell(USER_ROI_LEFT_WIDTH), cell);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(VideoWindow, RightClickSavesTheFrameAsAnEightBitRedRampBitmap) {
    ShowVideoPage();
    // 70 x 102: every line is padded to 72 bytes in the file.
    LoadUser(USER_ROI_LEFT_WIDTH, 10 + 11 * 128);
    LoadUser(USER_ROI_TOP_HEIGHT, 30 + 20 * 128);
    GetFrame();

    const QString path = folder.path() + "/BMPFiles/frame.bmp";
    TFileDialog seen(nullptr, true);
    window->SaveDialogData->Run = [&](TFileDialog& dialog) {
        seen.Filter = dialog.Filter;
        seen.FilterIndex = dialog.FilterIndex;
        seen.DefaultExt = dialog.DefaultExt;
        seen.InitialDir = dialog.InitialDir;
        dialog.FileName = path;
        return true;
    };
    QTest::mousePress(window->PaintBox_BitMap, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseRelease(window->PaintBox_BitMap, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(seen.Filter, "All files(*.*)|*.*|BitMap files(*.bmp)|*.bmp");
    EXPECT_EQ(seen.FilterIndex, 2);
    EXPECT_EQ(seen.DefaultExt, "bmp");
    EXPECT_EQ(seen.InitialDir, folder.path() + "/BMPFiles");
    EXPECT_TRUE(boxes.empty());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bmp = file.readAll();
    const int offset = 14 + 40 + 256 * 4;
    ASSERT_EQ(bmp.size(), offset + 72 * 102);
    EXPECT_EQ(bmp.left(2), "BM");
    EXPECT_EQ(Le32(bmp, 2), static_cast<uint32_t>(bmp.size()));
    EXPECT_EQ(Le32(bmp, 10), static_cast<uint32_t>(offset));
    EXPECT_EQ(Le32(bmp, 14), 40u);
    EXPECT_EQ(Le32(bmp, 18), 70u);
    EXPECT_EQ(Le32(bmp, 22), 102u);
    EXPECT_EQ(Le16(bmp, 26), 1);
    EXPECT_EQ(Le16(bmp, 28), 8);
    EXPECT_EQ(Le32(bmp, 30), 0u);
    EXPECT_EQ(Le32(bmp, 46), 256u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(Le32(bmp, 54 + 4 * i), static_cast<uint32_t>(i) << 16) << i; // B, G, R, 0
    bool line_seen = false;
    for (int r = 0; r < 102; ++r)
        for (int c = 0; c < 72; ++c) {
            // Bottom line first.
            const uint8_t stored = static_cast<uint8_t>(bmp[offset + (101 - r) * 72 + c]);
            const int expected = c < 70 ? 2 * window->Video_Buffer[r * 70 + c] : 0;
            ASSERT_EQ(stored, expected) << c << " " << r;
            line_seen = line_seen || stored > 100;
        }
    EXPECT_TRUE(line_seen);

    // Cancelled: nothing is written.
    ASSERT_TRUE(QFile::remove(path));
    window->SaveDialogData->Run = [](TFileDialog&) { return false; };
    QTest::mousePress(window->PaintBox_BitMap, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(VideoWindow, FailedSaveShowsABoxNamingTheFileAndTheReason) {
    ShowVideoPage();
    GetFrame();
    const QString path = folder.path() + "/no such folder/frame.bmp";
    window->SaveDialogData->Run = [&](TFileDialog& dialog) {
        dialog.FileName = path;
        return true;
    };
    QTest::mousePress(window->PaintBox_BitMap, Qt::RightButton, {}, QPoint(5, 5));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, APPLICATION_TITLE);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].text.contains(path)) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains("No such file or directory")) << boxes[0].text.toStdString();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QDir(folder.path() + "/BMPFiles").exists());
    EXPECT_EQ(window->Sensor_Result, 0u); // not a sensor error: the window stays connected
    EXPECT_EQ(window->Button_Connect->text(), "Disconnect");
}

TEST_F(VideoWindow, WholeFrameScrollsOnlyUpAndDownAndIsRepaintedWithTheRoiOutline) {
    ShowVideoPage();
    GetFrame();
    QApplication::processEvents();
    QScrollArea* area = window->ScrollBox_Video;
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
    EXPECT_GE(area->viewport()->width(), 640);
    // The page is shorter than the frame; the bar reaches its last line.
    ASSERT_LT(area->viewport()->height(), 512);
    EXPECT_TRUE(area->verticalScrollBar()->isVisible());
    EXPECT_EQ(area->verticalScrollBar()->maximum(), 512 - area->viewport()->height());

    // The repaint timer paints the paint box by itself.
    int paints = 0;
    struct TCounter : QObject {
        int* count;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                ++*count;
            return false;
        }
    } counter;
    counter.count = &paints;
    window->PaintBox_BitMap->installEventFilter(&counter);
    EXPECT_TRUE(window->Timer_Repaint->isActive());
    EXPECT_TRUE(WaitFor([&] { return paints >= 3; }, 2000));
    window->PaintBox_BitMap->removeEventFilter(&counter);

    Drag(QPoint(64, 51), {QPoint(384, 307)}, QPoint(384, 307));
    const QImage shot = window->PaintBox_BitMap->grab().toImage();
    // A dotted white outline on columns 64 and 383, lines 51 and 306; the frame inside.
    auto white_on = [&](auto point_at) {
        int white = 0;
        for (int k = 60; k < 250; ++k)
            white += shot.pixel(point_at(k)) == qRgb(255, 255, 255);
        return white;
    };
    for (int column : {64, 383}) {
        const int white = white_on([&](int k) { return QPoint(column, k); });
        EXPECT_GT(white, 40) << column;
        EXPECT_LT(white, 190) << column; // dotted, not solid
    }
    EXPECT_GT(white_on([&](int k) { return QPoint(k + 70, 306); }), 40);
    EXPECT_EQ(white_on([&](int k) { return QPoint(k + 70, 200); }), 0);
    EXPECT_EQ(qGreen(shot.pixel(200, 200)), 0);
    EXPECT_EQ(qRed(shot.pixel(200, 200)), window->Video_Bitmap->pixelIndex(200, 200));

    // Leaving the page stops the repaint.
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Result);
    EXPECT_FALSE(window->Timer_Repaint->isActive());
}

// The window's frame store holds 640 x 512 pixels; a frame that announces more, or one that
// does not lie on the camera, is refused and the shown frame stays.
TEST_F(VideoWindow, FrameThatDoesNotFitTheStoreOrTheCameraIsRefused) {
    ShowVideoPage();
    GetFrame();
    const QImage before = window->Video_Bitmap->copy();
    TBytePeer peer;
    TUsbDeviceDirectory::Register("VIDEO TEST SENSOR", peer.Path());
    TSensorConnection record;
    record.mode = LINK_MODE_USB;
    record.name = "VIDEO TEST SENSOR";
    record.baud = 921600;
    ASSERT_EQ(window->Sensor->Open(record), RESULT_OK);

    TCRC crc(CRC_POLY);
    auto header = [](uint16_t rows, uint16_t width, uint16_t top, uint16_t left) {
        std::vector<uint8_t> bytes = {0x00};
        uint8_t groups[2];
        for (uint16_t v : {rows, width, top, left}) {
            EncodeGroups(v, 2, groups);
            bytes.push_back(groups[0] | 0x80);
            bytes.push_back(groups[1] | 0x80);
        }
        return bytes;
    };
    struct TCase {
        std::vector<uint8_t> reply;
        const char* what;
    };
    std::vector<uint8_t> wide(100 * 700, 5);
    std::vector<uint8_t> off(64 * 64, 5);
    const TCase cases[] = {
        {header(513, 640, 0, 0), "513 lines of 640"},
        {protocol::BuildVideoReply(crc, 100, 700, 0, 0, wide.data()), "700 wide"},
        {protocol::BuildVideoReply(crc, 64, 64, 480, 600, off.data()), "beyond the frame's corner"},
    };
    size_t sent = 0;
    for (const TCase& c : cases) {
        sent += 7; // the request: start, length, command, checksum
        peer.SendAfter(sent, c.reply);
        window->Button_Get_Video->click();
        EXPECT_EQ(window->Sensor_Result, RESULT_UNKNOWN_ERROR) << c.what;
        EXPECT_EQ(window->PaintBox_BitMap->geometry(), QRect(0, 0, 640, 512)) << c.what;
        EXPECT_EQ(*window->Video_Bitmap, before) << c.what;
        window->Sensor_Result = 0;
        ASSERT_TRUE(peer.WaitIdle());
    }
    window->Sensor->Close();
    TUsbDeviceDirectory::Unregister("VIDEO TEST SENSOR");
}

TEST_F(VideoWindow, GetBitmapCountsTheLinesInAProgressDialogUnderTheWaitCursor) {
    ShowVideoPage();
    struct TSeen {
        int value;
        QString label;
        int wait_depth;
    };
    std::vector<TSeen> seen;
    QProgressDialog* shown = nullptr;
    QString first_label;
    bool window_modal = false;
    window->ShowProgress = [&](QProgressDialog& dialog) {
        shown = &dialog;
        first_label = dialog.labelText();
        window_modal = dialog.windowModality() == Qt::WindowModal;
        dialog.show();
        auto* bar = dialog.findChild<QProgressBar*>();
        ASSERT_NE(bar, nullptr);
        QObject::connect(bar, &QProgressBar::valueChanged, &dialog, [&seen, &dialog](int value) {
            seen.push_back({value, dialog.labelText(), TWaitCursor::Depth()});
        });
    };
    GetFrame();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(window_modal);
    // Before the header: the frame the ROI parameters promise, and its time at the link's rate.
    EXPECT_EQ(first_label, "Receiving the frame: line 0 of 512\n640 x 512 pixels, about 3.6 s at 921600 bit/s");
    // The count goes up to the last line, under the wait cursor all along.
    ASSERT_FALSE(seen.empty());
    for (size_t k = 0; k < seen.size(); ++k) {
        ASSERT_TRUE(k == 0 || seen[k].value > seen[k - 1].value) << k;
        ASSERT_GT(seen[k].wait_depth, 0) << k;
    }
    EXPECT_EQ(seen.back().value, 512);
    EXPECT_EQ(seen.back().label, "Receiving the frame: line 512 of 512\n640 x 512 pixels, about 3.6 s at 921600 bit/s");
    EXPECT_EQ(TWaitCursor::Depth(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A smaller region at the wire's pace (0.7 s): its own lines counted as they arrive.
    LoadUser(USER_ROI_TOP_HEIGHT, 10 + 20 * 128);
    demo->sensor->SetPaced(true);
    seen.clear();
    GetFrame();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_LT(seen.front().value, 102);
    EXPECT_EQ(seen.front().label,
              QString("Receiving the frame: line %1 of 102\n640 x 102 pixels, about 0.7 s at 921600 bit/s")
                  .arg(seen.front().value));
    EXPECT_EQ(seen.back().value, 102);
    EXPECT_EQ(seen.back().label, "Receiving the frame: line 102 of 102\n640 x 102 pixels, about 0.7 s at 921600 bit/s");
}

TEST_F(VideoWindow, CameraAidsShowThePixelUnderTheMouseAndTheSaturatedOnesButSaveThePlainFrame) {
    ShowVideoPage();
    LoadUser(USER_LASER_INTENSITY, 31); // the brightest laser saturates the line's middle
    LoadUser(USER_ROI_TOP_HEIGHT, 10 + 60 * 128);
    GetFrame();
    const uint32_t top = window->Video_Frame.top, width = window->Video_Frame.width;
    ASSERT_EQ(top, 51u);
    // The first saturated pixel and a dark one.
    int sat = -1;
    for (size_t i = 0; i < width * window->Video_Frame.rows && sat < 0; ++i)
        if (window->Video_Buffer[i] == 127)
            sat = static_cast<int>(i);
    ASSERT_GE(sat, 0);
    const QPoint saturated(sat % int(width), sat / int(width)); // in paint-box pixels
    TPaintBox* box = window->PaintBox_BitMap;
    QLabel* probe = window->Camera_Aids->Label_Video_Probe;

    QTest::mouseMove(box, saturated);
    EXPECT_EQ(probe->text(), QString("X %1  Y %2  value 127, saturated").arg(saturated.x()).arg(saturated.y() + int(top)));
    QTest::mouseMove(box, QPoint(3, 2));
    EXPECT_EQ(probe->text(), QString("X 3  Y %1  value %2").arg(2 + int(top)).arg(window->Video_Buffer[2 * width + 3]));

    // Ticked, the saturated pixels turn cyan on the screen; the others keep their red.
    QTest::mouseClick(window->Camera_Aids->CheckBox_Video_Saturation, Qt::LeftButton);
    ASSERT_TRUE(window->Camera_Aids->CheckBox_Video_Saturation->isChecked());
    QImage screen = box->grab().toImage();
    EXPECT_EQ(QColor(screen.pixel(saturated)), QColor(0, 255, 255));
    const uint8_t dark = window->Video_Buffer[2 * width + 3];
    EXPECT_EQ(QColor(screen.pixel(3, 2)), QColor(2 * dark, 0, 0));
    // A new frame keeps the marking.
    GetFrame();
    screen = box->grab().toImage();
    EXPECT_EQ(QColor(screen.pixel(saturated)), QColor(0, 255, 255));

    // The saved bitmap is the plain frame: its palette the red ramp, its pixels the doubled values.
    const QString path = folder.path() + "/saturated.bmp";
    window->SaveDialogData->Run = [&](TFileDialog& dialog) {
        dialog.FileName = path;
        return true;
    };
    QTest::mouseClick(box, Qt::RightButton, {}, QPoint(5, 5));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bmp = file.readAll();
    EXPECT_EQ(Le32(bmp, 54 + 4 * 254), 254u << 16);
    EXPECT_EQ(Le32(bmp, 54 + 4 * 255), 255u << 16);

    // Unticked, the red is back.
    QTest::mouseClick(window->Camera_Aids->CheckBox_Video_Saturation, Qt::LeftButton);
    screen = box->grab().toImage();
    EXPECT_EQ(QColor(screen.pixel(saturated)), QColor(254, 0, 0));
    EXPECT_TRUE(boxes.empty());
}
