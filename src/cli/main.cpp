// zq455: the sensor's operations from the command line (see Cli.h and --help).

#include "Cli.h"

#include <csignal>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t interrupted = 0;
void OnSignal(int) {
    interrupted = 1;
}
} // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    zq455::cli::TCliEnvironment environment;
    environment.stop_requested = [] { return interrupted != 0; };
    // Lines typed to `simulate`, read only when one is waiting, so serving never blocks on them.
    environment.next_line = [](std::string& line) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 0) <= 0 || !(input.revents & POLLIN))
            return false;
        return static_cast<bool>(std::getline(std::cin, line));
    };
    return zq455::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), environment);
}
