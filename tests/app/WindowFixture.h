#pragma once
// The window tests' common ground: the setup window against the unpaced virtual sensor and
// stage, offscreen, with modal dialogs and message boxes answered by the hook the window
// routes them through (never by sleeping).

#include "app/DemoDevices.h"
#include "app/Main.h"
#include "app/ParameterDialogs.h"
#include "app/ParameterEditors.h"
#include "app/ParameterText.h"
#include "link/Pause.h"
#include "sensor/AngleText.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <qcustomplot.h>

// Failures show texts, not their bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace zq455::test {

struct TBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
    bool errors_timer_active;
    QString connect_caption;
    int height;
    QString informative; // the line under the message
};

inline QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

class SetupWindow : public ::testing::Test {
protected:
    void SetUp() override { Start(true); }

    void Start(bool with_devices) {
        if (with_devices)
            demo = std::make_unique<TDemoDevices>(false);
        window = std::make_unique<TForm_Main>(options);
        window->CreateDialogs();
        // The pauses after an address or bit-rate load, shortened: long enough for the
        // virtual sensor to take the request before the link changes its rate.
        window->Sensor->Sleep = [](uint32_t ms) { SleepMilliseconds(std::min<uint32_t>(ms, 100)); };
        window->ShowModal = [this](QDialog& dialog) { return Answer(dialog); };
        window->show();
    }

    void TearDown() override {
        window.reset();
        demo.reset();
    }

    int Answer(QDialog& dialog) {
        if (auto* box = dynamic_cast<QMessageBox*>(&dialog)) {
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), window->Timer_Errors->isActive(),
                             window->Button_Connect->text(), window->height(), box->informativeText()});
            // A question gets the test's answer; any other box is acknowledged.
            const auto reply = box->icon() == QMessageBox::Question ? question_answer : QMessageBox::Ok;
            box->done(reply);
            return reply;
        }
        dialog.show();
        if (answer)
            answer(dialog);
        if (dialog.isVisible())
            dialog.reject();
        return dialog.result();
    }

    // Runs the event loop until `done` holds or the time is up.
    bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (clock.elapsed() > timeout_ms)
                return false;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    void Connect() {
        window->Button_Connect->click();
        ASSERT_EQ(window->Sensor_Result, 0u);
        ASSERT_EQ(window->Button_Connect->text(), "Disconnect");
        ASSERT_TRUE(WaitFor([&] { return !window->Timer_Resize->isActive(); }, 2000));
    }

    QString Cell(QTableWidget* grid, int row) { return grid->item(row, 1)->text(); }

    // Makes `row` the current row of the user editor, as a click on it does.
    void SelectUserRow(int row) {
        window->Parameter_Editors->ValueListEditor_User_Parameters->setCurrentCell(row, 1);
    }

    // Picks `text` from the drop-down of the current user row.
    void Pick(int row, const QString& text) {
        SelectUserRow(row);
        QTableWidget* grid = window->Parameter_Editors->ValueListEditor_User_Parameters;
        auto* combo = qobject_cast<QComboBox*>(grid->indexWidget(grid->model()->index(row, 1)));
        ASSERT_NE(combo, nullptr);
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    std::vector<uint8_t> CommandsSince(size_t from) {
        std::vector<uint8_t> all = demo->sensor->Commands();
        return std::vector<uint8_t>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
    }

    TMainOptions options;
    std::unique_ptr<TDemoDevices> demo;
    std::unique_ptr<TForm_Main> window;
    std::vector<TBox> boxes;
    QMessageBox::StandardButton question_answer = QMessageBox::No;
    std::function<void(QDialog&)> answer;
};

inline std::vector<uint8_t> Repeat(uint8_t command, size_t count) {
    return std::vector<uint8_t>(count, command);
}

inline std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace zq455::test
