// "harvix-cli watch": the tray program's browser monitors without the tray.
// Watches the browsers switched on in the settings and combs a browser's
// cache each time it closes (the entries it cached while it ran), until
// interrupted. A server or a script can use the engine this way.
#include <pthread.h>
#include <signal.h>
#include <algorithm>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <iostream>

#include "app/ErrorText.h"
#include "app/Settings.h"
#include "cli/ArgumentParser.h"
#include "cli/Command.h"
#include "cli/ProgressLine.h"
#include "engine/Browsers.h"
#include "engine/CombCoordinator.h"
#include "platform/Path.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

// What the runs tell the command; called on the comb thread.
class WatchReport : public CoordinatorEvents {
public:
    explicit WatchReport(const LanguageTexts& texts) : texts_(texts) {}

    // One line when a run starts and one when it ends, with the local time
    // of the start, what the run combed and how long it took.
    void runState(const BrowserRow& browser, bool started) override {
        const std::string& name = browser.displayName;
        if (started) {
            kept_ = 0;
            finished_ = false;
            start_ = std::chrono::steady_clock::now();
            std::cerr << "harvix-cli watch: " + name + " has closed; combing its cache (started " +
                             clockTime() + ")\n";
        } else {
            const auto took = std::chrono::duration_cast<std::chrono::seconds>(
                std::chrono::steady_clock::now() - start_);
            // One write, so that a reader of the stream never sees half the line.
            std::string line = "harvix-cli watch: " + name + ": " + std::to_string(kept_) +
                               (kept_ == 1 ? " file" : " files") + " kept";
            if (finished_) {
                line += ", " + std::to_string(combed_) + (combed_ == 1 ? " entry" : " entries") +
                        " combed";
            }
            std::cerr << line + " in " + ProgressLine::elapsedText(took) + "\n";
        }
    }
    void runFinished(const BrowserRow& /*browser*/, const CombRun& run) override {
        combed_ = run.result.entriesCombed;
        finished_ = !run.openError;
    }
    void runFailed(const BrowserRow& browser, const std::string& why) override {
        std::cerr << "harvix-cli watch: " + browser.displayName + ": the comb failed: " + why +
                         "\n";
    }
    void keptFile(const BrowserRow& /*browser*/, const CacheEntry& /*entry*/,
                  const std::string& path) override {
        ++kept_;
        std::cout << path << std::endl;  // at once: a script may act on each line
    }
    void error(const BrowserRow& browser, const ErrorReport& report) override {
        // A cache that does not open: the line says which and why, and where
        // the folder read comes from. (The tray program's box speaks of its
        // Options dialog, which has no place here.)
        if (report.kind() == ErrorReport::CacheOpen || report.kind() == ErrorReport::FileOpen) {
            std::cerr << "harvix-cli watch: " << browser.displayName << ": " << errorLine(report)
                      << (browser.hasCacheFolderOption
                              ? "; the folder read is MozillaCachePath of Harvix.cfg, else "
                                "the cache of the profile Firefox uses ('harvix-cli list " +
                                    browser.id + " --cache PATH' tries a folder)"
                              : std::string())
                      << "\n";
            return;
        }
        const std::string box = errorBoxText(report, texts_, &browser);
        // The box says what the user can do; the line says what failed.
        if (!box.empty()) {
            std::cerr << "harvix-cli watch: " << browser.displayName << ": " << box << "\n";
        }
        std::cerr << "harvix-cli watch: " << errorLine(report) << "\n";
    }

private:
    static std::string clockTime() {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        char text[16] = "?";
        if (localtime_r(&now, &local) != nullptr) {
            std::strftime(text, sizeof text, "%H:%M:%S", &local);
        }
        return text;
    }

    const LanguageTexts& texts_;
    uint64_t kept_ = 0;
    uint64_t combed_ = 0;
    bool finished_ = false;
    std::chrono::steady_clock::time_point start_;
};

class WatchCommand final : public Command {
public:
    static constexpr uint32_t kMaxPeriod = 60000;

    std::string name() const override { return "watch"; }

    std::string summary() const override {
        return "watch the browsers and comb a cache each time its browser closes";
    }

    std::string usage() const override {
        return "Usage: harvix-cli watch [--period MS]\n"
               "\n" +
               wrapped("Watches the browsers switched on in the settings (" + watchKeysText() +
                       ") as the Harvix program does and, each time one of them closes, "
                       "combs what it cached while it ran into the filter's folders. Prints "
                       "the full path of every file kept, one per line; what it sees on "
                       "standard error, with one line when a run starts and one (files kept, "
                       "entries combed, time taken) when it ends. Runs until interrupted "
                       "(Ctrl+C, SIGINT or SIGTERM); a run under way then stops at its next "
                       "entry.") +
               "\n"
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
        ArgumentParser parser;
        parser.option("--period",
                      [&period](const std::string& value) -> std::optional<std::string> {
                          if (!parsePeriod(value, &period)) {
                              return "--period needs a number of milliseconds from 1 to 60000";
                          }
                          return std::nullopt;
                      });
        if (const std::optional<std::string> why = parser.parse(args, nullptr)) {
            return usageError(*why);
        }

        const CliProfile profile = loadSettingsReadOnly();
        const Settings& settings = profile.settings;
        // Every row of the browser table whose settings key is on.
        const std::vector<const BrowserRow*> watch = settings.watchedRows();
        if (watch.empty()) {
            std::cerr << "harvix-cli watch: no browser is switched on in the settings ("
                      << watchKeysText() << " in " << pathToUtf8(settings.cfgPath) << ")\n";
            return kExitUsage;
        }
        const std::string filterFile = !settings.FiltersFileName.empty()
                                           ? settings.FiltersFileName
                                           : pathToUtf8(settings.defaultFilterPath);
        FilterSet filter;
        filter.homeFolder = platformServices().homeFolder();
        if (const std::optional<FilterLoadError> failed = filter.loadFile(
                filterFile, static_cast<std::time_t>(platformServices().currentTime()))) {
            std::cerr << "harvix-cli watch: " << filterFile
                      << ": cannot be loaded as a Harvix filter file (" << failed->reason << ")\n";
            return kExitUsage;
        }

        IPlatform& platform = platformServices();
        WatchReport report(profile.texts);
        CombCoordinator coordinator(platform, report, period);
        coordinator.setFilter(filter);
        coordinator.setOptions(
            RunOptions{settings.OneCopy, settings.SkipDuplicates, settings.MozillaCachePath});

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

        coordinator.startMonitors(watch);
        const auto& table = browserTable();
        std::string watched;
        for (std::size_t kind = 0; kind < table.size(); ++kind) {
            if (coordinator.monitors[kind]->running) {
                watched += (watched.empty() ? "" : ", ") + table[kind].displayName;
            }
        }
        std::cerr << "harvix-cli watch: watching " << watched << "; interrupt to stop\n";

        std::vector<bool> seen(table.size(), false);
        const timespec tick{0, 50 * 1000 * 1000};
        for (;;) {
            const int taken = sigtimedwait(&stopSignals, nullptr, &tick);
            if (taken > 0) {
                break;
            }
            for (std::size_t kind = 0; kind < table.size(); ++kind) {
                const bool found = coordinator.monitors[kind]->found;
                if (found && !seen[kind]) {
                    std::cerr << "harvix-cli watch: " << table[kind].displayName << " is running\n";
                }
                seen[kind] = found;
            }
        }

        std::cerr << "harvix-cli watch: stopping\n";
        coordinator.shutdown();
        pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        return kExitOk;
    }

private:
    int usageError(const std::string& why) const { return harvix::usageError(name(), why); }

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
