#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "app/Settings.h"
#include "cli/Command.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

class FilterShowTest : public ::testing::Test {
protected:
    FilterShowTest() : scoped_(fake_) {
        fake_.exePath = dir_ / "prog" / "harvix-cli";
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
        Result result{code, ::testing::internal::GetCapturedStdout(),
                      ::testing::internal::GetCapturedStderr()};
        return result;
    }

    TempDir dir_;
    FakePlatform fake_;
    ScopedPlatform scoped_;
};

TEST_F(FilterShowTest, PrintsTheHintAndOneTabbedLinePerItem) {
    const fs::path flt = dir_ / "my.flt";
    writeFile(flt,
              "[GENERAL]\nHarvixFilter=1\nHint=Holiday pictures\n"
              "[FILTER_0]\nContentType=1\nDisabled=0\nMinSize=10000\nURL=a.com, b .net\n"
              "MinWeidth=100\nMinHeight=90\nDirectory=~/HX_FILES/%DATE%\nFileNameDummy=pic\n"
              "[FILTER_1]\nContentType=42\nDisabled=1\nMinSize=-3\n"
              "[FILTER_2]\nContentType=31\n[FILTER_3]\nContentType=26\n");
    const Result r = run({"filter", "show", flt.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "Hint=Holiday pictures\n"
              "0\t1\tjpg\t10000\ta.com, b .net\t100\t90\t~/HX_FILES/%DATE%\tpic\n"
              "1\t0\t42\t-3\t\t0\t0\t\t\n"
              "2\t1\tvideos\t0\t\t0\t0\t\t\n"
              "3\t1\t26\t0\t\t0\t0\t\t\n");
    EXPECT_EQ(r.err, "");
    // The command reads the settings but never writes them.
    EXPECT_FALSE(fs::exists(dir_ / "prog" / "Harvix.cfg"));
}

TEST_F(FilterShowTest, AFileThatDoesNotLoadGivesTheReasonAndExitCodeOne) {
    writeFile(dir_ / "plain.txt", "[GENERAL]\nHint=not marked\n");
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {(dir_ / "missing.flt").string(), "no such file"},
        {(dir_ / "plain.txt").string(), "not a Harvix filter file"},
        {dir_.path().string(), "folder"},
    };
    for (const auto& c : cases) {
        const Result r = run({"filter", "show", c.path});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.path), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
    for (const auto& args : std::vector<std::vector<std::string>>{{"filter"},
                                                                  {"filter", "show"},
                                                                  {"filter", "list", "x"},
                                                                  {"filter", "show", "a", "b"}}) {
        const Result r = run(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("(see 'harvix-cli help filter')\n"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "prog" / "Harvix.cfg"));
}

TEST(FilterShowProgramTest, TheShippedDefaultFilterShowsFromTheBuiltProgram) {
    const std::string command = std::string("'") + HARVIX_CLI_PATH + "' filter show '" +
                                HARVIX_SOURCE_DIR + "/resources/Filters/Default.flt' 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_EQ(out.rfind("Hint=", 0), 0u) << out;
    for (const char* group : {"\tpictures\t", "\tvideos\t", "\tsounds\t"}) {
        EXPECT_NE(out.find(group), std::string::npos) << out;
    }
    EXPECT_EQ(out.find("\tswf\t"), std::string::npos) << out;
    EXPECT_NE(out.find("\t100\t100\t~/HX_FILES/%DATE%/Pictures\t"), std::string::npos) << out;
}

}  // namespace

}  // namespace harvix
