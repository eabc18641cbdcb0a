#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace harvix {
namespace {

using std::chrono::seconds;

TEST(ProgressLine, FormatKeepsToTheTerminalAndItsCounts) {
    EXPECT_EQ(ProgressLine::format(120, 480, 12, seconds(3), 80),
              "[##########------------------------------] 120/480 entries, 12 kept, 0:03");
    // An empty cache is complete; a count past the total is held at it.
    EXPECT_EQ(ProgressLine::format(0, 0, 0, seconds(0), 39).substr(0, 12), "[##########]");
    EXPECT_NE(ProgressLine::format(9, 5, 0, seconds(0), 80).find(" 5/5 entries"),
              std::string::npos);
    // Never as wide as the terminal (a full line wraps): the bar shrinks,
    // then goes, then the counts are cut.
    for (const int columns : {1, 10, 30, 45, 50, 80, 200}) {
        const std::string line =
            ProgressLine::format(123456, 7654321, 4321, seconds(3 * 3600 + 62), columns);
        EXPECT_LT(static_cast<int>(line.size()), std::max(columns, 1)) << line;
    }
    EXPECT_EQ(ProgressLine::format(1, 2, 0, seconds(0), 30).front(), '1');
    EXPECT_EQ(ProgressLine::elapsedText(seconds(59)), "0:59");
    EXPECT_EQ(ProgressLine::elapsedText(seconds(754)), "12:34");
    EXPECT_EQ(ProgressLine::elapsedText(seconds(3723)), "1:02:03");
}

TEST(ProgressLine, DrawsInPlaceOnlyWhenEnabled) {
    const auto drawn = [](bool enabled) {
        std::FILE* out = std::tmpfile();
        {
            ProgressLine line(out, enabled, 80);
            line.update(1, 3, 0);
            line.clear();  // a kept file's path goes here
            line.update(3, 3, 1);
            line.finish();
        }
        std::rewind(out);
        std::string text;
        for (int ch = std::fgetc(out); ch != EOF; ch = std::fgetc(out)) {
            text.push_back(static_cast<char>(ch));
        }
        std::fclose(out);
        return text;
    };
    EXPECT_EQ(drawn(false), "");
    const std::string text = drawn(true);
    EXPECT_EQ(text.rfind("\r[", 0), 0u);
    EXPECT_NE(text.find("1/3 entries"), std::string::npos);
    EXPECT_NE(text.find("3/3 entries, 1 kept"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace harvix
