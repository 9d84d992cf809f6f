// main() of the window tests: a QApplication on the offscreen platform around GoogleTest.

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// The offscreen platform says on every window that it cannot raise or size it; that is noise.
QtMessageHandler default_handler = nullptr;

void DropPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith("This plugin does not support"))
        return;
    if (default_handler)
        default_handler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    default_handler = qInstallMessageHandler(DropPlatformNotes);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
