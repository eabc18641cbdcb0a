// Reading untrusted cache files and creating copies: the platform's file
// handle, range copy, new-file mechanism and byte-order cursor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>

#include "base/ByteOrder.h"
#include "platform/FileHandle.h"
#include "platform/NewFile.h"
#include "support/TestSupport.h"

namespace harvix {
namespace {

std::size_t filesIn(const fs::path& folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) {
        ++n;
    }
    return n;
}

TEST(FileHandle, OpensOnlyRegularFilesBelowTheCache) {
    TempDir dir;
    fs::create_directories(dir / "cache" / "sub");
    writeFile(dir / "cache" / "entry", "0123456789");
    writeFile(dir / "secret", "do not copy");
    fs::create_symlink(dir / "secret", dir / "cache" / "link");
    fs::create_directory_symlink(dir.path(), dir / "cache" / "out");
    ASSERT_EQ(mkfifo((dir / "cache" / "fifo").c_str(), 0600), 0);
    const fs::path root = resolveFolder(dir / "cache");

    FileHandle ok = FileHandle::openBelow(root, root / "entry");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok.size(), 10u);
    char buf[4] = {};
    EXPECT_TRUE(ok.readExactAt(6, buf, 4));
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_FALSE(ok.readExactAt(8, buf, 4));  // a short read is a failure
    EXPECT_EQ(ok.readAt(8, buf, 4), 2u);

    EXPECT_FALSE(FileHandle::openBelow(root, root / "link"));  // a final link
    EXPECT_EQ(FileHandle::openBelow(root, root / "link").error(), ELOOP);
    // A FIFO neither blocks the open nor passes as a file.
    EXPECT_EQ(FileHandle::openBelow(root, root / "fifo").error(), EINVAL);
    EXPECT_EQ(FileHandle::openBelow(root, root / "sub").error(), EISDIR);
    // A folder link that leads out of the cache, and "..".
    EXPECT_EQ(FileHandle::openBelow(root, root / "out" / "secret").error(), EXDEV);
    EXPECT_EQ(FileHandle::openBelow(root, root / ".." / "secret").error(), EXDEV);
    EXPECT_EQ(FileHandle::openBelow(root, "../secret").error(), EXDEV);
    EXPECT_TRUE(FileHandle::openBelow(root, "sub/../entry"));
    // Files in sub-folders; a folder link that stays inside the cache is
    // followed, and a missing file says so.
    writeFile(dir / "cache" / "sub" / "deep", "deep");
    fs::create_directory_symlink(dir / "cache" / "sub", dir / "cache" / "inside");
    EXPECT_EQ(FileHandle::openBelow(root, root / "sub" / "deep").sizeAtOpen(), 4u);
    EXPECT_TRUE(FileHandle::openBelow(root, root / "inside" / "deep"));
    EXPECT_EQ(FileHandle::openBelow(root, root / "sub" / "none").error(), ENOENT);

    // A cache folder that is itself a link is fine once resolved.
    fs::create_directory_symlink(dir / "cache", dir / "alias");
    const fs::path aliasRoot = resolveFolder(dir / "alias");
    EXPECT_TRUE(FileHandle::openBelow(aliasRoot, dir / "alias" / "entry"));
    EXPECT_TRUE(isAtOrBelow(dir / "alias" / "sub", dir / "cache"));
    EXPECT_FALSE(isAtOrBelow(dir / "cachex", dir / "cache"));
}

TEST(FileHandle, CopyRangeCopiesExactlyTheRangeOrFails) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 100000; ++i) {
        content += static_cast<char>('a' + i % 26);
    }
    writeFile(dir / "src", content);
    FileHandle in = FileHandle::openForReading(dir / "src");
    ASSERT_TRUE(in);

    const int out = ::open((dir / "dst").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(out, 0);
    EXPECT_TRUE(copyRange(in, 70000, 30000, out));
    ::close(out);
    EXPECT_EQ(readFile(dir / "dst"), content.substr(70000));

    // More than the source holds: a failure, not a shorter copy kept as done.
    const int out2 = ::open((dir / "dst2").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    errno = 0;
    EXPECT_FALSE(copyRange(in, 90000, 20000, out2));
    EXPECT_EQ(errno, EIO);
    ::close(out2);
}

// Both kinds of new file: anonymous (O_TMPFILE) and the hidden temporary name.
class NewFileTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { NewFile::setAnonymousFilesForTesting(GetParam()); }
    void TearDown() override { NewFile::setAnonymousFilesForTesting(true); }
};

TEST_P(NewFileTest, NamesOnlyWhenCompleteAndNeverReplaces) {
    TempDir dir;
    writeFile(dir / "f0.js", "the user's file");
    {
        NewFile file = NewFile::create(dir.path());
        ASSERT_TRUE(file) << file.error();
        ASSERT_TRUE(writeAll(file.fd(), "copy", 4));
        // The name the comb chose was taken meanwhile: the user's file stays.
        EXPECT_FALSE(file.linkAs("f0.js"));
        EXPECT_EQ(errno, EEXIST);
        EXPECT_EQ(readFile(dir / "f0.js"), "the user's file");
        EXPECT_TRUE(file.linkAs("f1.js"));
    }
    EXPECT_EQ(readFile(dir / "f1.js"), "copy");
    EXPECT_EQ(filesIn(dir.path()), 2u);  // no temporary name is left

    {
        NewFile abandoned = NewFile::create(dir.path());
        ASSERT_TRUE(abandoned);
        ASSERT_TRUE(writeAll(abandoned.fd(), "half", 4));
    }  // never linked: nothing remains
    EXPECT_EQ(filesIn(dir.path()), 2u);

    EXPECT_EQ(NewFile::create(dir / "missing").error(), ENOENT);
}

TEST_P(NewFileTest, TemporaryNamesCanBeRemovedFromASignalHandler) {
    TempDir dir;
    NewFile file = NewFile::create(dir.path());
    ASSERT_TRUE(file);
    NewFile::removeTemporariesNow();
    EXPECT_EQ(filesIn(dir.path()), 0u);
}

INSTANTIATE_TEST_SUITE_P(Anonymous, NewFileTest, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "OTmpFile" : "HiddenName"; });

TEST(ByteCursor, NeverLeavesItsBytes) {
    const std::array<unsigned char, 6> bytes{0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    ByteCursor cursor(bytes);
    uint32_t v32 = 0;
    uint16_t v16 = 0;
    EXPECT_TRUE(cursor.le32(v32));
    EXPECT_EQ(v32, 0x04030201u);
    EXPECT_FALSE(cursor.be32(v32));  // two bytes left: nothing moves
    EXPECT_EQ(cursor.pos(), 4u);
    EXPECT_TRUE(cursor.be16(v16));
    EXPECT_EQ(v16, 0x0506);
    EXPECT_FALSE(cursor.skip(1));
    EXPECT_FALSE(cursor.seek(7));
    EXPECT_EQ(loadBe64(std::array<unsigned char, 8>{0, 0, 0, 1, 0, 0, 0, 2}.data()),
              (uint64_t{1} << 32) | 2u);
}

}  // namespace
}  // namespace harvix
