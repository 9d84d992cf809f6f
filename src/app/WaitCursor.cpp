#include "WaitCursor.h"

#include <QApplication>

namespace zq455 {

std::atomic<int> TWaitCursor::depth{0};

TWaitCursor::TWaitCursor() {
    // The platform takes the cursor at once; no pass through the event loop is needed (one
    // would let the timers run in the middle of the handler that set it).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++depth;
}

TWaitCursor::~TWaitCursor() {
    --depth;
    QApplication::restoreOverrideCursor();
}

} // namespace zq455
