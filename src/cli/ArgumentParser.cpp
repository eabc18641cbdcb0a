#include "cli/ArgumentParser.h"

#include <utility>

#include "cli/EntryListing.h"
#include "engine/Browsers.h"

namespace harvix {

void ArgumentParser::option(const std::string& name, TakeText take) {
    Option o;
    o.name = name;
    o.takesValue = true;
    o.take = std::move(take);
    options_.push_back(std::move(o));
}

void ArgumentParser::text(const std::string& name, std::string& value, const std::string& what) {
    option(name, [name, what, &value](const std::string& given) -> std::optional<std::string> {
        if (given.empty()) {
            return name + " needs a " + what;
        }
        value = given;
        return std::nullopt;
    });
}

void ArgumentParser::flag(const std::string& name, std::function<void()> set) {
    Option o;
    o.name = name;
    o.set = std::move(set);
    options_.push_back(std::move(o));
}

void ArgumentParser::choice(const std::string& yes, const std::string& no, int& choice) {
    flag(yes, [&choice] { choice = 1; });
    flag(no, [&choice] { choice = 0; });
    options_[options_.size() - 2].opposite = options_.size() - 1;
    options_.back().opposite = options_.size() - 2;
}

void ArgumentParser::moreWords(TakeText take) {
    moreWords_ = std::move(take);
}

std::optional<std::string> ArgumentParser::parse(const std::vector<std::string>& args,
                                                 std::string* word) {
    bool wordTaken = word == nullptr;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        Option* found = nullptr;
        for (Option& o : options_) {
            if (o.name == arg) {
                found = &o;
                break;
            }
        }
        if (found != nullptr) {
            // A yes/no pair is one option: its second word counts as given twice.
            if (found->given || (found->opposite != kNone && options_[found->opposite].given)) {
                return "unexpected argument '" + arg + "'";
            }
            found->given = true;
            if (!found->takesValue) {
                found->set();
                continue;
            }
            if (i + 1 >= args.size()) {
                return arg + " needs a value";
            }
            if (std::optional<std::string> why = found->take(args[++i])) {
                return why;
            }
        } else if (!arg.empty() && arg[0] != '-' && !wordTaken) {
            *word = arg;
            wordTaken = true;
        } else if (!arg.empty() && arg[0] != '-' && moreWords_) {
            if (std::optional<std::string> why = moreWords_(arg)) {
                return why;
            }
        } else {
            return "unexpected argument '" + arg + "'";
        }
    }
    return std::nullopt;
}

std::optional<std::string> ArgumentParser::parse(const std::vector<std::string>& args,
                                                 const BrowserRow*& browser) {
    std::string word;
    if (std::optional<std::string> why = parse(args, &word)) {
        return why;
    }
    browser = browserByWord(word);
    if (browser == nullptr) {
        return word.empty() ? "no browser named" : "unknown browser '" + word + "'";
    }
    return std::nullopt;
}

void addCacheOption(ArgumentParser& parser, std::string& cache) {
    parser.text("--cache", cache, "path");
}

void addFilterOption(ArgumentParser& parser, std::string& filterFile) {
    parser.text("--filter", filterFile, "file");
}

void addSinceOption(ArgumentParser& parser, int64_t now, std::optional<int64_t>& since) {
    parser.option("--since", [now, &since](const std::string& value) -> std::optional<std::string> {
        since = parseSince(value, now);
        if (!since) {
            return "--since '" + value + "' is none of " + kSinceForms;
        }
        return std::nullopt;
    });
}

}  // namespace harvix
