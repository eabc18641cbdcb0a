#include <cstdio>
#include <iostream>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "cli/Command.h"
#include "engine/Browsers.h"

namespace harvix {

// Subcommand factories; each lives in its own file.
// (Declared here so that the list below is the one place that names them.)
std::unique_ptr<Command> makeFilterShowCommand();
std::unique_ptr<Command> makeListCommand();
std::unique_ptr<Command> makeCombCommand();
std::unique_ptr<Command> makeWatchCommand();
std::unique_ptr<Command> makeSaveCommand();
std::unique_ptr<Command> makeExportCommand();

std::vector<std::unique_ptr<Command>> makeCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(makeListCommand());
    commands.push_back(makeSaveCommand());
    commands.push_back(makeExportCommand());
    commands.push_back(makeCombCommand());
    commands.push_back(makeWatchCommand());
    commands.push_back(makeFilterShowCommand());
    return commands;
}

CliProfile loadSettingsReadOnly() {
    CliProfile profile;
    profile.settings.computePaths();
    profile.settings.loadSettings();
    loadLanguage(profile.texts, profile.settings);
    return profile;
}

std::string browserWordsText() {
    std::string text;
    const auto& table = browserTable();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const std::vector<std::string> words = table[i].words();
        text += i == 0 ? "" : i + 1 == table.size() ? " or " : ", ";
        for (std::size_t w = 0; w < words.size(); ++w) {
            text += (w == 0 ? "" : " or ") + words[w];
        }
    }
    return text;
}

std::string familyWordsText(const std::string& family) {
    std::vector<std::string> ids;
    for (const BrowserRow& row : browserTable()) {
        if (!family.empty() && row.family == family) {
            ids.push_back(row.id);
        }
    }
    std::string text;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == ids.size() ? " and " : ", ") + ids[i];
    }
    return text;
}

std::string browserWordsLines(bool table) {
    std::string lines;
    for (const BrowserRow& row : browserTable()) {
        if (!table) {
            for (const std::string& word : row.words()) {
                lines += word + "\n";
            }
            continue;
        }
        const auto first = [](const std::vector<std::string>& list) {
            return list.empty() ? std::string("-") : list.front();
        };
        lines += row.id + "\t" + (row.family.empty() ? "-" : row.family) + "\t" +
                 row.watchSettingsKey + "\t" + first(row.processNames) + "\t" +
                 first(row.places.cacheRoots) + "\t" + row.displayName + "\n";
    }
    return lines;
}

std::string watchKeysText() {
    std::string text;
    for (const BrowserRow& row : browserTable()) {
        text += (text.empty() ? "" : ", ") + row.watchSettingsKey;
    }
    return text;
}

int usageError(const std::string& command, const std::string& why) {
    const std::string prefix = command.empty() ? "harvix-cli" : "harvix-cli " + command;
    const std::string help = command.empty() ? "harvix-cli help" : "harvix-cli help " + command;
    std::cerr << prefix << ": " << why << " (see '" << help << "')\n";
    return kExitUsage;
}

std::string wrapped(const std::string& text, std::size_t indent) {
    constexpr std::size_t kWidth = 72;
    const std::string margin(indent, ' ');
    std::string out = margin;
    std::size_t lineLength = indent;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(start, end - start);
        if (lineLength > indent && lineLength + 1 + word.size() > kWidth) {
            out += "\n" + margin;
            lineLength = indent;
        } else if (lineLength > indent) {
            out += ' ';
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
        start = end + 1;
    }
    return out;
}

namespace {

void printHelp(const std::vector<std::unique_ptr<Command>>& commands) {
    std::cout << "Usage: harvix-cli COMMAND [OPTIONS]\n"
                 "\n"
                 "Combs web-browser disk caches with the same engine as the Harvix tray\n"
                 "program: lists a cache, saves chosen entries, shows a filter file, or\n"
                 "runs a comb that copies every matching cached file into the filter's\n"
                 "target folders.\n"
                 "\n"
                 "Commands:\n";
    for (const auto& command : commands) {
        std::printf("  %-16s %s\n", command->name().c_str(), command->summary().c_str());
    }
    std::cout << "\n"
                 "Options:\n"
                 "  -h, --help       show this text; 'harvix-cli help COMMAND' shows one command\n"
                 "  -V, --version    show the version\n"
                 "\n"
                 "Exit codes: 0 success, 1 usage error, 2 the cache cannot be opened,\n"
                 "3 a target folder cannot be made, 4 an entry could not be copied.\n"
                 "\n"
                 "Settings are read from Harvix.cfg (beside the program, or in\n"
                 "~/.config/Harvix/ when installed); harvix-cli never writes them.\n";
}

}  // namespace

int runCli(const std::vector<std::string>& args) {
    const auto commands = makeCommands();
    if (args.empty()) {
        return usageError({}, "no command given");
    }
    const std::string& first = args.front();
    if (first == "-h" || first == "--help") {
        printHelp(commands);
        return kExitOk;
    }
    if (first == "-V" || first == "--version") {
        std::cout << "harvix-cli " << HARVIX_VERSION << "\n";
        return kExitOk;
    }
    if (first == "help") {
        if (args.size() < 2) {
            printHelp(commands);
            return kExitOk;
        }
        // Not in the overview: the browser words for the bash completion.
        if (args[1] == "browsers") {
            std::cout << browserWordsLines(args.size() > 2 && args[2] == "--table");
            return kExitOk;
        }
        for (const auto& command : commands) {
            if (command->name() == args[1]) {
                std::cout << command->usage();
                return kExitOk;
            }
        }
        return usageError({}, "unknown command '" + args[1] + "'");
    }
    for (const auto& command : commands) {
        if (command->name() == first) {
            const std::vector<std::string> rest(args.begin() + 1, args.end());
            for (const std::string& arg : rest) {
                if (arg == "-h" || arg == "--help") {
                    std::cout << command->usage();
                    return kExitOk;
                }
            }
            return command->run(rest);
        }
    }
    return usageError({}, "unknown command '" + first + "'");
}

}  // namespace harvix
