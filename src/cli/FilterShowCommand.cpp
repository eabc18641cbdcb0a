// "harvix-cli filter show FILE": loads a filter file the way the tray
// program does and prints its hint and items, one tab-separated line each.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "base/ContentType.h"
#include "base/Profile.h"
#include "cli/Command.h"
#include "filter/FilterSet.h"
#include "platform/Path.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

class FilterShowCommand final : public Command {
public:
    std::string name() const override { return "filter"; }

    std::string summary() const override { return "show the items of a filter file (.flt)"; }

    std::string usage() const override {
        return "Usage: harvix-cli filter show FILE\n"
               "\n"
               "Loads the filter file FILE as the Harvix program does and prints\n"
               "'Hint=' followed by the file's hint, then one line per filter item\n"
               "with these fields separated by tabs:\n"
               "  position, 1 when enabled else 0, content type (its name, such as\n"
               "  png or pictures; a code no type has as its number), minimum size,\n"
               "  URL parts as stored, minimum width, minimum height,\n"
               "  folder template, file name stem.\n"
               "\n"
               "Exit status 1 (and the reason on standard error) when FILE is\n"
               "missing, unreadable or no filter file. The settings file is read,\n"
               "never written.\n";
    }

    int run(const std::vector<std::string>& args) override {
        if (args.empty() || args[0] != "show") {
            return usageError(name(), args.empty() ? "no subcommand; 'show' is the one there is"
                                                   : "unknown subcommand '" + args[0] + "'");
        }
        if (args.size() != 2) {
            return usageError(name(), args.size() < 2 ? "no filter file named"
                                                      : "unexpected argument '" + args[2] + "'");
        }
        const std::string& file = args[1];
        FilterSet filter;
        filter.homeFolder = platformServices().homeFolder();
        if (file.empty()) {
            std::cerr << "harvix-cli: : no file named\n";
            return kExitUsage;
        }
        if (const std::optional<FilterLoadError> failed =
                filter.loadFile(file, static_cast<std::time_t>(platformServices().currentTime()))) {
            std::cerr << "harvix-cli: " << file << ": " << whyNotLoaded(file, *failed) << "\n";
            return kExitUsage;
        }
        if (filter.itemsLeftOut > 0) {
            std::cerr << "harvix-cli: " << file << ": only the first " << FilterSet::kMaxItems
                      << " items are read; " << filter.itemsLeftOut << " more are left out\n";
        }
        std::cout << "Hint=" << filter.hint << "\n";
        for (const auto& item : filter.items) {
            std::cout << item->position << '\t' << (item->disabled ? 0 : 1) << '\t'
                      << contentTypeText(item->contentType) << '\t' << item->minSize << '\t'
                      << item->url << '\t' << item->minWidth << '\t' << item->minHeight << '\t'
                      << item->directoryTemplate << '\t' << item->stem << '\n';
        }
        std::cout.flush();
        return std::cout ? kExitOk : kExitUsage;
    }

private:
    // The content type as the comb reads it: a code it does not know keeps
    // nothing, so it shows as the number it is, not as "all".
    static std::string contentTypeText(int32_t code) {
        if (contentTypeInfo(code) == nullptr) {
            return std::to_string(code);
        }
        return contentTypeName(code);
    }

    // The reason a filter file did not load, for the message.
    static std::string whyNotLoaded(const std::string& file, const FilterLoadError& failed) {
        const fs::path path = pathFromUtf8(file);
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (status.type() == fs::file_type::not_found) {
            return "no such file";
        }
        if (status.type() == fs::file_type::directory) {
            return "is a folder, not a filter file";
        }
        if (failed.kind == FilterLoadError::Kind::NotAFilterFile) {
            return "not a Harvix filter file (GENERAL/HarvixFilter is missing or 0)";
        }
        return "cannot be read: " + failed.reason;
    }
};

}  // namespace

std::unique_ptr<Command> makeFilterShowCommand() {
    return std::make_unique<FilterShowCommand>();
}

}  // namespace harvix
