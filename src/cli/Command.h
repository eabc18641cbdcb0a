// harvix-cli subcommands: one small class per subcommand behind this base.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "app/LanguageTexts.h"
#include "app/Settings.h"

namespace harvix {

// Exit codes shared by the subcommands.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,         // bad arguments; also "filter show" on a file that does not load
    kExitCacheOpen = 2,     // the cache cannot be opened
    kExitTargetFolder = 3,  // a target folder cannot be made
    kExitCopyFailed = 4     // a matching (or, for save, a chosen) entry could not be copied
};

class Command {
public:
    virtual ~Command() = default;
    // The word that selects the command ("list", "comb", ...).
    virtual std::string name() const = 0;
    // One line for the overview of --help.
    virtual std::string summary() const = 0;
    // The full usage text for "harvix-cli help NAME" and --help.
    virtual std::string usage() const = 0;
    // Runs with the arguments after the command word; returns the exit code.
    virtual int run(const std::vector<std::string>& args) = 0;
};

// Every subcommand, in the order --help lists them.
std::vector<std::unique_ptr<Command>> makeCommands();

// Runs harvix-cli with `args` (without the program name); returns the exit code.
int runCli(const std::vector<std::string>& args);

// Reads the settings as the tray program would (paths, Harvix.cfg, language
// file) without writing the settings file or the autostart entry.
// The settings and language texts of harvix-cli: read at start, never
// written; the commands pass their values on.
struct CliProfile {
    Settings settings;
    LanguageTexts texts;
};
CliProfile loadSettingsReadOnly();

// The words of every browser of the browser table for a usage text:
// "mozilla or firefox, ie, ..., vivaldi or opera" (a row's aliases joined by
// "or"). `separator` stands between the rows.
std::string browserWordsText();
// The ids of the rows of `family`: "chromium, chrome, ... and opera".
std::string familyWordsText(const std::string& family);
// The words of every row, one a line (`harvix-cli help browsers`, which the
// bash completion asks); with `table`, one line per row of tab-separated
// fields: word, family ("-" for none), watch key, first process name, first
// cache root ("-" for none), display name (`help browsers --table`, which
// the end-to-end test of the tray program reads).
std::string browserWordsLines(bool table = false);
// The watch settings keys of every row: "Mozilla, IE, ..., UseOpera".
std::string watchKeysText();
// A usage error of `command` ("list", "comb", ...; empty for none): one line
// on standard error saying what is wrong and where the usage is told.
// Returns kExitUsage.
int usageError(const std::string& command, const std::string& why);

// `text` broken into lines of at most 72 characters at blanks, each line
// after `indent` blanks.
std::string wrapped(const std::string& text, std::size_t indent = 0);

}  // namespace harvix
