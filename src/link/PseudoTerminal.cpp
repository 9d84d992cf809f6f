#include "PseudoTerminal.h"

#include "Interface.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace zq455 {

TPseudoTerminal::TPseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return;
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        ::close(master);
        master = -1;
        return;
    }
    char name[128] = {0};
    if (ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        master = -1;
        return;
    }
    slave_path = name;
    slave_keep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_keep >= 0) {
        termios raw{};
        if (tcgetattr(slave_keep, &raw) == 0) {
            cfmakeraw(&raw);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            tcsetattr(slave_keep, TCSANOW, &raw);
        }
    }
    int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
}

TPseudoTerminal::~TPseudoTerminal() {
    CloseMaster();
    if (slave_keep >= 0)
        ::close(slave_keep);
}

long TPseudoTerminal::ReadMaster(uint8_t* data, size_t capacity, int timeout_ms) {
    if (master < 0)
        return -1;
    pollfd pfd{master, POLLIN, 0};
    int ready = ::poll(&pfd, 1, timeout_ms);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0)
        return 0;
    ssize_t n = ::read(master, data, capacity);
    if (n < 0)
        return (errno == EAGAIN || errno == EINTR || errno == EIO) ? 0 : -1;
    return n;
}

bool TPseudoTerminal::WriteMaster(const uint8_t* data, size_t length) {
    // A program that stops reading fills the slave's input queue; give up after about five
    // seconds rather than hang the peer's thread.
    int idle_polls = 0;
    size_t sent = 0;
    while (sent < length) {
        if (master < 0)
            return false;
        ssize_t n = ::write(master, data + sent, length - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            idle_polls = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (++idle_polls > 2500)
            return false;
        // Short waits: the pseudo-terminal does not always wake a blocked writer once the
        // reader has made room, and a writer that sleeps longer than the reader's byte gap
        // turns a slow reader into a read time-out.
        pollfd pfd{master, POLLOUT, 0};
        ::poll(&pfd, 1, 2);
    }
    return true;
}

uint32_t TPseudoTerminal::SlaveBaud() const {
    termios state{};
    if (master < 0 || tcgetattr(master, &state) != 0)
        return 0;
    return SpeedToBaud(cfgetospeed(&state));
}

void TPseudoTerminal::CloseMaster() {
    if (master >= 0)
        ::close(master);
    master = -1;
}

} // namespace zq455
