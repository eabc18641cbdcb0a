#include <cstdio>
#include <iostream>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "cli/Command.h"

// Subcommand factories; each lives in its own file.
// (Declared here so that the list below is the one place that names them.)
std::unique_ptr<Command> MakeFilterShowCommand();
std::unique_ptr<Command> MakeListCommand();
std::unique_ptr<Command> MakeCombCommand();
std::unique_ptr<Command> MakeWatchCommand();

std::vector<std::unique_ptr<Command>> MakeCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(MakeListCommand());
    commands.push_back(MakeCombCommand());
    commands.push_back(MakeWatchCommand());
    commands.push_back(MakeFilterShowCommand());
    return commands;
}

void LoadSettingsReadOnly() {
    Settings& settings = TheSettings();
    settings.ComputePaths();
    settings.LoadSettings();
    LoadLanguage(TheLanguage(), settings);
}

namespace {

void PrintHelp(const std::vector<std::unique_ptr<Command>>& commands) {
    std::cout << "Usage: harvix-cli COMMAND [OPTIONS]\n"
                 "\n"
                 "Combs web-browser disk caches with the same engine as the Harvix tray\n"
                 "program: lists a cache, shows a filter file, or runs a comb that copies\n"
                 "every matching cached file into the filter's target folders.\n"
                 "\n"
                 "Commands:\n";
    for (const auto& command : commands) {
        std::printf("  %-16s %s\n", command->Name().c_str(), command->Summary().c_str());
    }
    std::cout << "\n"
                 "Options:\n"
                 "  -h, --help       show this text; 'harvix-cli help COMMAND' shows one command\n"
                 "  -V, --version    show the version\n"
                 "\n"
                 "Exit codes: 0 success, 1 usage error, 2 the cache cannot be opened,\n"
                 "3 a target folder cannot be made.\n"
                 "\n"
                 "Settings are read from Harvix.cfg (beside the program, or in\n"
                 "~/.config/Harvix/ when installed); harvix-cli never writes them.\n";
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
    const auto commands = MakeCommands();
    if (args.empty()) {
        PrintHelp(commands);
        return kExitUsage;
    }
    const std::string& first = args.front();
    if (first == "-h" || first == "--help") {
        PrintHelp(commands);
        return kExitOk;
    }
    if (first == "-V" || first == "--version") {
        std::cout << "harvix-cli " << HARVIX_VERSION << "\n";
        return kExitOk;
    }
    if (first == "help") {
        if (args.size() < 2) {
            PrintHelp(commands);
            return kExitOk;
        }
        for (const auto& command : commands) {
            if (command->Name() == args[1]) {
                std::cout << command->Usage();
                return kExitOk;
            }
        }
        std::cerr << "harvix-cli: unknown command '" << args[1] << "'\n";
        return kExitUsage;
    }
    for (const auto& command : commands) {
        if (command->Name() == first) {
            const std::vector<std::string> rest(args.begin() + 1, args.end());
            for (const std::string& arg : rest) {
                if (arg == "-h" || arg == "--help") {
                    std::cout << command->Usage();
                    return kExitOk;
                }
            }
            return command->Run(rest);
        }
    }
    std::cerr << "harvix-cli: unknown command '" << first << "'; see 'harvix-cli --help'\n";
    return kExitUsage;
}
