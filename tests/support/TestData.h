// The files of tests/data, which the tests read and never write. A file
// that is missing or cut short (a checkout without it, a bad merge) fails
// the test that needs it at once, naming the file, instead of letting the
// test run on into a crash over bytes that are not there.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace harvix {

// A file of the test data, by its path below tests/data.
inline std::filesystem::path testData(const std::string& relative) {
    return std::filesystem::path(HARVIX_TESTDATA) / relative;
}

// The size of a regular file; 0 when it is missing or not a regular file.
inline std::uintmax_t testDataSize(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size =
        std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path, ec) : 0;
    return ec ? 0 : size;
}

// The sizes of the real WinINet indexes, msiecf/Content.IE5/index.dat and
// msiecf/History.IE5/index.dat; the tests read and change bytes up to them.
constexpr std::uintmax_t kContentIndexBytes = 49152;
constexpr std::uintmax_t kHistoryIndexBytes = 32768;

}  // namespace harvix

// Stops the current test (a fatal failure) unless `path` is a file of at
// least `bytes` bytes.
#define ASSERT_TEST_DATA(path, bytes)                                           \
    ASSERT_GE(::harvix::testDataSize(path), static_cast<std::uintmax_t>(bytes)) \
        << "test data missing or cut short: " << (path)
