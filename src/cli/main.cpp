#include <csignal>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "platform/NewFile.h"

using namespace harvix;

namespace {

// Ctrl+C or SIGTERM during a comb or a save: a copy still being written on a
// file system without anonymous files has a hidden temporary name; remove it,
// then end as the signal would have ended the program. (`watch` blocks these
// signals and stops its run in order instead.)
extern "C" void onStopSignal(int signal) {
    NewFile::removeTemporariesNow();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    std::vector<std::string> args(argv + 1, argv + argc);
    return runCli(args);
}
