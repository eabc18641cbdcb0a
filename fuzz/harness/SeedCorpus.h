// The seed corpus of every harness, made by the project's own writers: the
// Firefox cache writer (caches, metadata items, pictures), the profile and
// filter-file writers, the shipped language and filter files, and for the
// URL cache index the real index.dat files of tests/data with
// damaged copies of them. No corpus file is kept in the repository: the
// corpus is written when the fuzz targets are built or the tests run.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

namespace fuzzing {

// Seeds by harness name, each a list of (file name, bytes). `sourceDir` is
// the checkout (for the shipped resources), `testdataDir` the shared test
// data (for index.dat; its seeds are left out when the folder is missing).
std::map<std::string, std::vector<std::pair<std::string, std::string>>> makeSeedCorpus(
    const fs::path& sourceDir, const fs::path& testdataDir);

// The seeds of the Chromium harnesses, written with the Chromium cache writer below `scratch`.
std::vector<std::pair<std::string, std::string>> chromiumSimpleSeeds(const fs::path& scratch);
std::vector<std::pair<std::string, std::string>> chromiumSparseSeeds(const fs::path& scratch);
std::vector<std::pair<std::string, std::string>> chromiumBlockFileSeeds(const fs::path& scratch);
// The seeds of the body decoder: a page under every coding and a few chains.
std::vector<std::pair<std::string, std::string>> bodyDecoderSeeds();
// The seeds of the service-worker stores: an index and a metadata record,
// and a caches.sqlite written with the store writer below `scratch`.
std::vector<std::pair<std::string, std::string>> cacheStorageSeeds();
std::vector<std::pair<std::string, std::string>> domCacheSeeds(const fs::path& scratch);

// Writes MakeSeedCorpus into `root`/<harness>/<file name>; returns the number
// of files written.
std::size_t writeSeedCorpus(const fs::path& root, const fs::path& sourceDir,
                            const fs::path& testdataDir);

}  // namespace fuzzing

}  // namespace harvix
