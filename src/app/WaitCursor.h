#pragma once
// The wait cursor over the whole program while a device call blocks the window: the call
// runs on the window's thread, so nothing else would tell the engineer that it is busy.

#include <atomic>

namespace zq455 {

class TWaitCursor {
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

    // How many are in force now; another thread may read it (the tests sample it while the
    // window's thread is blocked in a device call).
    static int Depth() { return depth.load(); }

private:
    static std::atomic<int> depth;
};

} // namespace zq455
