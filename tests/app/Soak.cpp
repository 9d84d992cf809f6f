// Soak run: the setup window measures against the paced virtual sensor for a while, without
// "Collect", and reports its resident memory once a minute. Not part of the test suite
// (it takes minutes); scripts/soak.sh runs it, once in the normal build for the memory
// figures and once under AddressSanitizer so LeakSanitizer looks at the exit.
//   app_soak [MINUTES] [--leaks-only]
//       default 10 minutes; exit status 1 when the window showed an error box or the memory grew
//       by 5 MB or more after the first minute. --leaks-only (the AddressSanitizer pass, whose
//       quarantine of freed memory grows by design) prints the figures but judges only the boxes;
//       LeakSanitizer judges the exit.

#include "app/DemoDevices.h"
#include "app/Main.h"
#include "support/OffscreenNotes.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

using namespace zq455;

namespace {

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char* argv[]) {
    zq455::test::InstallOffscreenNoteFilter();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double minutes = argc > 1 ? std::stod(argv[1]) : 10.0;
    const bool leaks_only = argc > 2 && std::string(argv[2]) == "--leaks-only";
    int failures = 0;
    long after_first_minute = -1, last = -1;
    uint32_t answered = 0;
    {
        TDemoDevices demo(true);
        TMainOptions options;
        TForm_Main window(options);
        window.CreateDialogs();
        window.ShowModal = [&](QDialog& dialog) {
            if (auto* box = dynamic_cast<QMessageBox*>(&dialog))
                std::printf("error box: %s\n", qPrintable(box->text()));
            ++failures;
            return static_cast<int>(QMessageBox::Ok);
        };
        window.show();
        window.Button_Connect->click();
        if (window.Button_Connect->text() != "Disconnect") {
            std::printf("connect failed: code %u\n", window.Sensor_Result);
            return 1;
        }
        window.Button_Get_Result->click();

        QElapsedTimer clock;
        clock.start();
        const qint64 total_ms = static_cast<qint64>(minutes * 60000);
        int reported_minute = 0;
        std::printf("minute  resident kB\n     0  %ld\n", ResidentKilobytes());
        std::fflush(stdout);
        while (clock.elapsed() < total_ms) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
            const int minute = static_cast<int>(clock.elapsed() / 60000);
            if (minute > reported_minute) {
                reported_minute = minute;
                last = ResidentKilobytes();
                if (minute == 1)
                    after_first_minute = last;
                std::printf("%6d  %ld\n", minute, last);
                std::fflush(stdout);
            }
        }
        last = ResidentKilobytes();
        answered = demo.sensor->Counters().answered;
        window.Button_Get_Result->click();
        window.close();
    }
    if (after_first_minute < 0)
        after_first_minute = last;
    const long growth = last - after_first_minute;
    std::printf("requests answered %u; after the first minute %ld kB, at the end %ld kB: growth %ld kB; "
                "error boxes %d\n",
                answered, after_first_minute, last, growth, failures);
    return (failures > 0 || (!leaks_only && growth >= 5 * 1024)) ? 1 : 0;
}
