// Reading untrusted cache files and creating copies: the platform's file
// handle, range copy, new-file mechanism, file replacement and byte-order
// cursor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>

#include "base/ByteOrder.h"
#include "platform/AtomicFile.h"
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

// Paths below a cache folder resolved by the kernel (openat2) and by hand
// (kernels without it).
class FileHandleBelow : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { FileHandle::setKernelResolutionForTesting(GetParam()); }
    void TearDown() override { FileHandle::setKernelResolutionForTesting(true); }
};

TEST_P(FileHandleBelow, OpensOnlyRegularFilesBelowTheCache) {
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
    // Relative links: inside, through a chain, and out through "..".
    fs::create_directory_symlink("sub", dir / "cache" / "rel");
    fs::create_directory_symlink("inside", dir / "cache" / "chain");
    fs::create_directory_symlink("sub/..", dir / "cache" / "self");
    fs::create_directory_symlink("..", dir / "cache" / "up");
    fs::create_directory_symlink("loop", dir / "cache" / "loop");
    EXPECT_TRUE(FileHandle::openBelow(root, root / "rel" / "deep"));
    EXPECT_TRUE(FileHandle::openBelow(root, root / "chain" / ".." / "self" / "sub" / "deep"));
    EXPECT_TRUE(FileHandle::openBelow(root, "inside/../entry"));
    EXPECT_EQ(FileHandle::openBelow(root, root / "up" / "secret").error(), EXDEV);
    EXPECT_EQ(FileHandle::openBelow(root, root / "sub" / ".." / ".." / "secret").error(), EXDEV);
    EXPECT_EQ(FileHandle::openBelow(root, root / "loop" / "entry").error(), ELOOP);
    EXPECT_EQ(FileHandle::openBelow(root, root / "entry" / "x").error(), ENOTDIR);

    // A cache folder that is itself a link is fine once resolved.
    fs::create_directory_symlink(dir / "cache", dir / "alias");
    const fs::path aliasRoot = resolveFolder(dir / "alias");
    EXPECT_TRUE(FileHandle::openBelow(aliasRoot, dir / "alias" / "entry"));
    EXPECT_TRUE(isAtOrBelow(dir / "alias" / "sub", dir / "cache"));
    EXPECT_FALSE(isAtOrBelow(dir / "cachex", dir / "cache"));
    EXPECT_EQ(FileHandle::openBelow(aliasRoot, dir / "alias" / "up" / "secret").error(), EXDEV);
}

TEST_P(FileHandleBelow, AFolderLinkSwappedWhileThePathIsOpenedNeverLeadsOut) {
    TempDir dir;
    writeFile(dir / "cache" / "sub" / "deep", "cache");
    writeFile(dir / "outside" / "deep", "secret");
    const fs::path root = resolveFolder(dir / "cache");
    fs::create_directory_symlink("sub", root / "swap");
    std::atomic<bool> done{false};
    // Another program turns the folder link inside out and back, each time
    // at once (a rename over it), as fast as it can.
    std::thread swapper([&] {
        for (bool out = true; !done; out = !out) {
            std::error_code ec;
            if (out) {
                fs::create_directory_symlink(dir / "outside", root / ".out", ec);
                fs::rename(root / ".out", root / "swap", ec);
            } else {
                fs::create_directory_symlink("sub", root / ".in", ec);
                fs::rename(root / ".in", root / "swap", ec);
            }
        }
    });
    int opened = 0;
    int leaked = 0;
    for (int i = 0; i < 5000; ++i) {
        const FileHandle file = FileHandle::openBelow(root, root / "swap" / "deep");
        char bytes[6] = {};
        if (file && file.readAt(0, bytes, sizeof bytes) > 0) {
            ++opened;
            leaked += std::string(bytes, 6) == "secret" ? 1 : 0;
        }
    }
    done = true;
    swapper.join();
    EXPECT_EQ(leaked, 0) << "of " << opened << " opened";
}

INSTANTIATE_TEST_SUITE_P(Resolution, FileHandleBelow, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Kernel" : "ByHand"; });

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

// Every way of naming a new file: anonymous (O_TMPFILE), and a hidden
// temporary name that is linked, renamed without replacing, or written
// again into a name made with O_EXCL (FAT and exFAT through FUSE).
class NewFileTest : public ::testing::TestWithParam<NewFile::Naming> {
protected:
    void SetUp() override { NewFile::setBestNamingForTesting(GetParam()); }
    void TearDown() override { NewFile::setBestNamingForTesting(NewFile::Naming::Anonymous); }
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
        EXPECT_EQ(file.error(), EEXIST);
        EXPECT_EQ(readFile(dir / "f0.js"), "the user's file");
        EXPECT_TRUE(file.linkAs("f1.js"));
        // Still open on the named copy's content.
        char back[4] = {};
        EXPECT_EQ(::pread(file.fd(), back, 4, 0), 4);
        EXPECT_EQ(std::string(back, 4), "copy");
    }
    EXPECT_EQ(readFile(dir / "f1.js"), "copy");
    EXPECT_EQ(filesIn(dir.path()), 2u);  // no temporary name is left

    {
        NewFile abandoned = NewFile::create(dir.path());
        ASSERT_TRUE(abandoned);
        ASSERT_TRUE(writeAll(abandoned.fd(), "half", 4));
        // A name that cannot be made (past 255 bytes): nothing of it stays.
        EXPECT_FALSE(abandoned.linkAs(std::string(300, 'n')));
        EXPECT_EQ(abandoned.error(), ENAMETOOLONG);
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

INSTANTIATE_TEST_SUITE_P(Naming, NewFileTest,
                         ::testing::Values(NewFile::Naming::Anonymous, NewFile::Naming::HardLink,
                                           NewFile::Naming::RenameNoReplace,
                                           NewFile::Naming::ExclusiveCopy),
                         [](const auto& param) {
                             switch (param.param) {
                                 case NewFile::Naming::Anonymous:
                                     return "OTmpFile";
                                 case NewFile::Naming::HardLink:
                                     return "HardLink";
                                 case NewFile::Naming::RenameNoReplace:
                                     return "RenameNoReplace";
                                 case NewFile::Naming::ExclusiveCopy:
                                     return "ExclusiveCopy";
                             }
                             return "";
                         });

TEST(AtomicFile, ANewFileHonoursTheUmaskAndAReplacedOneKeepsItsMode) {
    TempDir dir;
    const auto modeOf = [](const fs::path& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777u;
    };
    const mode_t previous = ::umask(077);
    const bool made = writeFileAtomically(dir / "new.cfg", "first");
    ::umask(022);
    writeFile(dir / "old.cfg", "old");
    ::chmod((dir / "old.cfg").c_str(), 0640);
    const bool replaced = writeFileAtomically(dir / "old.cfg", "new");
    ::umask(previous);
    ASSERT_TRUE(made && replaced);
    EXPECT_EQ(modeOf(dir / "new.cfg"), 0600u);
    EXPECT_EQ(modeOf(dir / "old.cfg"), 0640u);
    EXPECT_EQ(readFile(dir / "old.cfg"), "new");
    EXPECT_EQ(filesIn(dir.path()), 2u);
}

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
