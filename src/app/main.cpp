// zq455-setup: the sensor's setup and calibration window.

#include "Main.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    zq455::TMainOptions options;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--service") == 0) {
            options.service = true;
        } else if (std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "-h") == 0) {
            std::printf("Usage: zq455-setup [--simulate] [--service]\n"
                        "  --simulate  run with a virtual sensor and a virtual stage instead of the USB devices\n"
                        "  --service   show the FACTORY parameter tab and the CALIBRATION page\n");
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(zq455::APPLICATION_TITLE);
    zq455::TForm_Main window(options);
    window.CreateDialogs();
    window.show();
    return app.exec();
}
