// The arguments of a subcommand, parsed in one place: each command names its
// options and what each takes, and the parser walks the arguments once. An
// option given twice, an option at the end without its value, an unknown
// option and a word where none is taken are usage faults, told in one line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

struct BrowserRow;

class ArgumentParser {
public:
    // Keeps a value, or returns why it is refused.
    using TakeText = std::function<std::optional<std::string>(const std::string&)>;

    // An option with a value ("--cache PATH").
    void option(const std::string& name, TakeText take);
    // An option with a value that must not be empty ("--to FOLDER"): `value`
    // receives it; an empty one is refused as "NAME needs a WHAT".
    void text(const std::string& name, std::string& value, const std::string& what);
    // An option without a value ("--site-tree").
    void flag(const std::string& name, std::function<void()> set);
    // Two flags saying yes and no to one thing: `choice` becomes 1 or 0 and
    // stays -1 when neither is given; both together are a fault.
    void choice(const std::string& yes, const std::string& no, int& choice);
    // The words that are not options, one after another: the first is the
    // command's browser word when `word` is given to parse; the rest go to
    // `take` (without it, a second word is a fault).
    void moreWords(TakeText take);

    // Walks `args`; the first fault, or nothing. `word` (when not null)
    // receives the first word.
    std::optional<std::string> parse(const std::vector<std::string>& args, std::string* word);
    // The same, the first word naming a row of the browser table.
    std::optional<std::string> parse(const std::vector<std::string>& args,
                                     const BrowserRow*& browser);

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Option {
        std::string name;
        bool takesValue = false;
        TakeText take;                 // with a value
        std::function<void()> set;     // without
        std::size_t opposite = kNone;  // the other word of a yes/no pair
        bool given = false;
    };
    std::vector<Option> options_;
    TakeText moreWords_;
};

// The options the reading commands share. Each refuses an empty value.
void addCacheOption(ArgumentParser& parser, std::string& cache);
void addFilterOption(ArgumentParser& parser, std::string& filterFile);
// --since WHEN, a duration back from `now` or a date (see parseSince).
void addSinceOption(ArgumentParser& parser, int64_t now, std::optional<int64_t>& since);

}  // namespace harvix
