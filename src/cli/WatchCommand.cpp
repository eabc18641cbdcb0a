// "harvix-cli watch": the tray program's browser monitors without the tray.
// Watches the browsers switched on in the settings and combs a browser's
// cache each time it closes (the entries it cached while it ran), until
// interrupted. A server or a script can use the engine this way.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <iostream>

#include "app/Settings.h"
#include "cli/Command.h"
#include "engine/CombCoordinator.h"
#include "platform/Text.h"
#include "readers/ReaderFactory.h"

namespace harvix {

namespace {

// What the runs tell the command; written and read on the comb thread.
struct WatchReport {
    const CombCoordinator* main = nullptr;
    std::atomic<int32_t> kind{-1};  // browser of the run under way
    uint64_t kept = 0;
};

void onRunState(void* context, int32_t started) {
    auto* report = static_cast<WatchReport*>(context);
    const std::string& name = report->main->browser(report->kind).displayName;
    if (started != 0) {
        report->kept = 0;
        std::cerr << "harvix-cli watch: " << name << " has closed; combing its cache\n";
    } else {
        std::cerr << "harvix-cli watch: " << name << ": " << report->kept
                  << (report->kept == 1 ? " file" : " files") << " kept\n";
    }
}

void onKeptFile(std::intptr_t context, const std::string& path) {
    ++reinterpret_cast<WatchReport*>(context)->kept;
    std::cout << path << std::endl;  // at once: a script may act on each line
}

class WatchCommand final : public Command {
public:
    static constexpr uint32_t kMaxPeriod = 60000;

    std::string name() const override { return "watch"; }

    std::string summary() const override {
        return "watch the browsers and comb a cache each time its browser closes";
    }

    std::string usage() const override {
        return "Usage: harvix-cli watch [--period MS]\n"
               "\n"
               "Watches the browsers switched on in the settings (Mozilla, IE, Maxthon)\n"
               "as the Harvix program does and, each time one of them closes, combs what\n"
               "it cached while it ran into the filter's folders. Prints the full path\n"
               "of every file kept, one per line; what it sees on standard error. Runs\n"
               "until interrupted (Ctrl+C, SIGINT or SIGTERM); a run under way then\n"
               "stops at its next entry.\n"
               "\n"
               "  --period MS   pause between two looks at the process table, in\n"
               "                milliseconds, 1 to 60000; default 2000\n"
               "\n"
               "The filter is the current filter file of the settings, else the default\n"
               "filter file. Exit status 0 when interrupted, 1 on a usage error, a filter\n"
               "file that does not load, or no browser switched on. The settings file is\n"
               "read, never written.\n";
    }

    int run(const std::vector<std::string>& args) override {
        uint32_t period = BrowserMonitor::kDefaultPeriod;
        bool periodGiven = false;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--period" && i + 1 < args.size() && !periodGiven) {
                if (!parsePeriod(args[++i], &period)) {
                    return usageError("--period needs a number of milliseconds from 1 to 60000");
                }
                periodGiven = true;
            } else {
                return usageError("unexpected argument '" + args[i] + "'");
            }
        }

        loadSettingsReadOnly();
        const Settings& settings = theSettings();
        if (!settings.Mozilla && !settings.IE && !settings.Maxthon) {
            std::cerr << "harvix-cli watch: no browser is switched on in the settings "
                         "(Mozilla, IE, Maxthon in "
                      << pathToUtf8(settings.cfgPath) << ")\n";
            return kExitUsage;
        }
        const std::string filterFile = !settings.FiltersFileName.empty()
                                           ? settings.FiltersFileName
                                           : pathToUtf8(settings.defaultFilterPath);

        // The settings are as loaded above: the coordinator never writes them.
        CombCoordinator main(CombCoordinator::SettingsFile::AsLoaded, period);
        if (!main.filter.load(filterFile, /*saveSettings=*/false)) {
            std::cerr << "harvix-cli watch: " << filterFile
                      << ": cannot be loaded as a Harvix filter file\n";
            return kExitUsage;
        }
        WatchReport report;
        report.main = &main;
        main.makeReader = [&report](int32_t kind, const std::string& cacheFolder) {
            report.kind = kind;
            return makeBrowserReader(kind, cacheFolder);
        };
        main.runStateCallback = &onRunState;
        main.runStateContext = &report;
        main.filter.keptFileCallback = &onKeptFile;
        main.filter.keptFileContext = reinterpret_cast<std::intptr_t>(&report);

        // The stop signals are blocked before any thread starts (threads
        // inherit the mask), so only this thread takes them, through
        // sigtimedwait, and the coordinator ends its threads in order.
        sigset_t stopSignals;
        sigemptyset(&stopSignals);
        sigaddset(&stopSignals, SIGINT);
        sigaddset(&stopSignals, SIGTERM);
        sigaddset(&stopSignals, SIGHUP);
        sigset_t previousMask;
        pthread_sigmask(SIG_BLOCK, &stopSignals, &previousMask);

        main.startMonitors();
        std::string watched;
        for (int32_t kind = CombCoordinator::Mozilla; kind <= CombCoordinator::Maxthon; ++kind) {
            if (main.monitors[static_cast<std::size_t>(kind)].running) {
                watched += (watched.empty() ? "" : ", ") + main.browser(kind).displayName;
            }
        }
        std::cerr << "harvix-cli watch: watching " << watched << "; interrupt to stop\n";

        bool seen[CombCoordinator::kBrowserKinds] = {};
        const timespec tick{0, 50 * 1000 * 1000};
        for (;;) {
            const int taken = sigtimedwait(&stopSignals, nullptr, &tick);
            if (taken > 0) {
                break;
            }
            for (int32_t kind = CombCoordinator::Mozilla; kind <= CombCoordinator::Maxthon;
                 ++kind) {
                const auto index = static_cast<std::size_t>(kind);
                const bool found = main.monitors[index].found;
                if (found && !seen[index]) {
                    std::cerr << "harvix-cli watch: " << main.browser(kind).displayName
                              << " is running\n";
                }
                seen[index] = found;
            }
        }

        std::cerr << "harvix-cli watch: stopping\n";
        main.shutdown();
        pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        return kExitOk;
    }

private:
    int usageError(const std::string& why) const {
        std::cerr << "harvix-cli watch: " << why << "\n\n" << usage();
        return kExitUsage;
    }

    static bool parsePeriod(const std::string& text, uint32_t* period) {
        if (text.empty() || text.size() > 5 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const auto value = static_cast<uint32_t>(std::stoul(text));
        if (value < 1 || value > kMaxPeriod) {
            return false;
        }
        *period = value;
        return true;
    }
};

}  // namespace

std::unique_ptr<Command> makeWatchCommand() {
    return std::make_unique<WatchCommand>();
}

}  // namespace harvix
