#include <csignal>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "platform/NewFile.h"

using namespace harvix;

namespace {

// Ctrl+C, SIGTERM or a closed terminal (SIGHUP) during a comb or a save: a
// copy still being written on a file system without anonymous files has a
// hidden temporary name (or a real name being written, where the file system
// has neither links nor a safe rename); remove it, then end as the signal
// would have ended the program. (`watch` blocks these signals and stops its
// run in order instead.)
extern "C" void onStopSignal(int signal) {
    NewFile::removeTemporariesNow();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the program was started to ignore (nohup, a background
        // job of a script) stays ignored.
        if (std::signal(signal, onStopSignal) == SIG_IGN) {
            std::signal(signal, SIG_IGN);
        }
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    return runCli(args);
}
