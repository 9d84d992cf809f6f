// main() of the window tests: a QApplication on the offscreen platform around GoogleTest.

#include "support/OffscreenNotes.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    zq455::test::InstallOffscreenNoteFilter();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
