#pragma once
// A pseudo-terminal pair for the virtual devices and the tests: the peer works on the
// master side, the program opens the slave path like any serial port. The pair keeps a
// descriptor of the slave open itself, so the master sees no hang-up while the program has
// the port closed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

namespace zq455 {

class TPseudoTerminal {
public:
    TPseudoTerminal();
    ~TPseudoTerminal();
    TPseudoTerminal(const TPseudoTerminal&) = delete;
    TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

    bool IsValid() const { return master >= 0; }
    const std::string& SlavePath() const { return slave_path; }
    int Master() const { return master; }

    // Waits up to timeout_ms for bytes on the master side and reads what is there (at most
    // `capacity`). Returns the count, 0 on time-out, -1 when the master is closed or fails.
    long ReadMaster(uint8_t* data, size_t capacity, int timeout_ms);
    // Writes all bytes to the master side; false if the master is closed or fails.
    bool WriteMaster(const uint8_t* data, size_t length);
    // The bit rate the program set on the slave (Linux reports it through the master too).
    uint32_t SlaveBaud() const;
    // Closes the master as a pulled cable would; the slave then reads as hung up.
    void CloseMaster();

private:
    int master = -1;
    int slave_keep = -1;
    std::string slave_path;
};

} // namespace zq455
