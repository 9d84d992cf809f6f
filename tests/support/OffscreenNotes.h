#pragma once
// The offscreen platform says on every window that it cannot raise or size it, and Qt that
// XDG_RUNTIME_DIR is not set; that is noise in the window tests, benchmarks and soak run.

#include <QString>
#include <QtGlobal>

namespace zq455::test {

inline QtMessageHandler& PreviousMessageHandler() {
    static QtMessageHandler handler = nullptr;
    return handler;
}

inline void DropOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith("This plugin does not support") || message.startsWith("QStandardPaths:"))
        return;
    if (PreviousMessageHandler())
        PreviousMessageHandler()(type, context, message);
}

inline void InstallOffscreenNoteFilter() {
    PreviousMessageHandler() = qInstallMessageHandler(DropOffscreenNotes);
}

} // namespace zq455::test
