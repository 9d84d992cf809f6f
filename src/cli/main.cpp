// zq455: the sensor's operations from the command line (see Cli.h and --help).

#include "Cli.h"

#include <csignal>

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
    return zq455::cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), environment);
}
