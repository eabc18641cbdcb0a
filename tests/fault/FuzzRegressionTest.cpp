// The fuzz harnesses in the ordinary test build: every committed input that
// once broke a parser (fuzz/regressions/<harness>/) and the whole seed
// corpus run clean, under whatever sanitizer the build has. The findings
// themselves are also pinned down one by one with their bytes.
#include <gtest/gtest.h>

#include <string>

#include "FuzzHarness.h"
#include "SeedCorpus.h"
#include "support/TestData.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

const fs::path kRegressions = fs::path(HARVIX_SOURCE_DIR) / "fuzz" / "regressions";

void RunOne(std::string_view harness, const std::string& bytes, const std::string& name) {
    static const fuzzing::ScratchFolder scratch;
    try {
        ASSERT_TRUE(fuzzing::runHarness(harness, reinterpret_cast<const uint8_t*>(bytes.data()),
                                        bytes.size(), scratch.path()))
            << harness;
    } catch (const fuzzing::HarnessFailure& failure) {
        ADD_FAILURE() << harness << " / " << name << ": " << failure.what();
    }
}

TEST(FuzzRegressions, CommittedInputsRunClean) {
    std::size_t count = 0;
    for (const std::string_view harness : fuzzing::kHarnessNames) {
        const fs::path folder = kRegressions / std::string(harness);
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            RunOne(harness, readFile(it->path()), it->path().filename().string());
            ++count;
        }
    }
    EXPECT_GT(count, 0u) << "no regression inputs below " << kRegressions;
}

TEST(FuzzRegressions, SeedCorpusRunsClean) {
    ASSERT_TEST_DATA(testData("msiecf/Content.IE5/index.dat"), kContentIndexBytes);
    ASSERT_TEST_DATA(testData("msiecf/History.IE5/index.dat"), kHistoryIndexBytes);
    const auto corpus = fuzzing::makeSeedCorpus(HARVIX_SOURCE_DIR, testData(""));
    for (const std::string_view harness : fuzzing::kHarnessNames) {
        const auto found = corpus.find(std::string(harness));
        ASSERT_NE(found, corpus.end()) << harness;
        EXPECT_FALSE(found->second.empty()) << harness;
        for (const auto& [name, bytes] : found->second) {
            RunOne(harness, bytes, name);
        }
    }
}

TEST(FuzzRegressions, PackedCachesUnpackAsTheyWerePacked) {
    fuzzing::PackedCache cache;
    cache.flags = 0x05;
    cache.files[0] = std::string(40, 'm');
    cache.files[2] = "block two";
    cache.separate = std::string("sep\0arate", 9);
    const std::string packed = fuzzing::packMozillaCache(cache);
    const auto unpacked =
        fuzzing::unpackMozillaCache(reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
    EXPECT_EQ(unpacked.flags, cache.flags);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(unpacked.files[i], cache.files[i]) << i;
    }
    EXPECT_EQ(unpacked.separate, cache.separate);
    // Lengths past the end of the input take what is there.
    const std::string cut = packed.substr(0, 30);
    const auto partial =
        fuzzing::unpackMozillaCache(reinterpret_cast<const uint8_t*>(cut.data()), cut.size());
    EXPECT_EQ(partial.files[0], std::string(13, 'm'));
    EXPECT_TRUE(partial.files[1].empty() && partial.files[3].empty() && partial.separate.empty());
}

}  // namespace

}  // namespace harvix
