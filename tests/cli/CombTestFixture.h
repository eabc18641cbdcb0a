// What the list and comb command tests share: a fake platform whose program
// folder is a temporary one (so the settings file lives there), runs of
// harvix-cli with captured output, written caches and filter files.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CacheWriter.h"
#include "app/Settings.h"
#include "cli/Command.h"
#include "support/TestSupport.h"

namespace harvix {

class CliCacheTest : public ::testing::Test {
protected:
    CliCacheTest() : scoped_(fake_) {
        fake_.exePath = dir_ / "prog" / "harvix-cli";
        fake_.localAppData = dir_ / "xdg-cache";
        fs::create_directories(dir_ / "prog");
    }

    struct Result {
        int code;
        std::string out;
        std::string err;
    };
    Result run(const std::vector<std::string>& args) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int code = runCli(args);
        std::fflush(stdout);
        std::fflush(stderr);
        Result result{code, ::testing::internal::GetCapturedStdout(),
                      ::testing::internal::GetCapturedStderr()};
        return result;
    }

    static mozcache::Entry Http(const std::string& url, const std::string& data,
                                const std::string& type, uint32_t modified = 1325376000) {
        mozcache::Entry entry;
        entry.key = "HTTP:" + url;
        entry.data = data;
        entry.values = mozcache::responseValues(mozcache::ResponseHead({"Content-Type: " + type}));
        entry.lastModified = modified;
        return entry;
    }

    // One filter item: content type code, minimum size, URL parts, minimum
    // width and height, folder, stem.
    struct Item {
        int type = 0;
        int minSize = 0;
        std::string url;
        int minWidth = 0;
        int minHeight = 0;
        std::string folder;
        std::string stem = "file";
        bool disabled = false;
    };
    static void writeFilter(const fs::path& path, const std::vector<Item>& items) {
        std::string text = "[GENERAL]\nHarvixFilter=1\nHint=test\n";
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Item& item = items[i];
            text += "[FILTER_" + std::to_string(i) + "]\nContentType=" + std::to_string(item.type) +
                    "\nDisabled=" + (item.disabled ? "1" : "0") +
                    "\nMinSize=" + std::to_string(item.minSize) + "\nURL=" + item.url +
                    "\nMinWeidth=" + std::to_string(item.minWidth) +
                    "\nMinHeight=" + std::to_string(item.minHeight) + "\nDirectory=" + item.folder +
                    "\nFileNameDummy=" + item.stem + "\n";
        }
        writeFile(path, text);
    }

    // The files of a folder, by name.
    static std::vector<std::string> Names(const fs::path& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& item : fs::directory_iterator(folder, ec)) {
            names.push_back(item.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path Cfg() const { return dir_ / "prog" / "Harvix.cfg"; }

    TempDir dir_;
    FakePlatform fake_;
    ScopedPlatform scoped_;
};

// Combs of a written old-format cache with a written filter file.
class CliCombTest : public CliCacheTest {
protected:
    fs::path cache = dir_ / "Cache";
    fs::path flt = dir_ / "test.flt";

    Result comb(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"comb",         "mozilla",  "--cache",
                                      cache.string(), "--filter", flt.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    }
};

}  // namespace harvix
