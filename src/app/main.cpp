// zq455-setup: the sensor's setup and calibration window.

#include "Main.h"
#include "DemoDevices.h"

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char* const USAGE = "Usage: zq455-setup [--simulate] [--service]\n"
                          "  --simulate  run with a virtual sensor and a virtual stage in place of the USB\n"
                          "              devices (Connect and the motor's Connect find them)\n"
                          "  --service   show the FACTORY parameter tab and the CALIBRATION page\n"
                          "  --help      this text\n"
                          "  --version   the program's version\n"
                          "Without options the program looks for the real sensor and motor driver only.\n";

} // namespace

int main(int argc, char* argv[]) {
    // --help needs no display.
    for (int k = 1; k < argc; ++k)
        if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (std::strcmp(argv[k], "--version") == 0) {
            std::puts("zq455-setup " ZQ455_VERSION);
            return 0;
        }

    QApplication app(argc, argv); // takes the toolkit's own options out of the list
    QApplication::setApplicationName(zq455::APPLICATION_TITLE);
    QApplication::setFont(zq455::WindowFont()); // menus and message boxes too
    zq455::TMainOptions options;
    bool simulate = false;
    const QStringList arguments = QApplication::arguments();
    for (int k = 1; k < arguments.size(); ++k) {
        if (arguments[k] == "--simulate") {
            simulate = true;
        } else if (arguments[k] == "--service") {
            options.service = true;
        } else {
            std::fprintf(stderr, "zq455-setup: unknown option %s\n%s", qPrintable(arguments[k]), USAGE);
            return 2;
        }
    }

    // The virtual devices outlive the window, which closes its links when it closes.
    std::unique_ptr<zq455::TDemoDevices> demo;
    if (simulate) {
        demo = std::make_unique<zq455::TDemoDevices>();
        if (!demo->IsValid()) {
            std::fputs("zq455-setup: no pseudo-terminal for the virtual devices\n", stderr);
            return 1;
        }
    }
    zq455::TForm_Main window(options);
    window.CreateDialogs();
    window.show();
    return app.exec();
}
