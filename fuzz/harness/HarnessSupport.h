// What every harness shares: its failure, the scratch files it writes and
// reads back, and the checks that hold for any entry a reader gives.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "FuzzHarness.h"

namespace harvix {

struct CacheEntry;

namespace fuzzing {

// Throws HarnessFailure naming the rule when `condition` does not hold.
void check(bool condition, std::string_view rule);

// Removes everything inside `folder`, keeping the folder.
void clearFolder(const fs::path& folder);

void writeBytes(const fs::path& path, std::string_view bytes);

// The whole file; empty when it cannot be read.
std::string readBytes(const fs::path& path);

// Every file below `folder` with its bytes, by path relative to it.
std::map<std::string, std::string> snapshotOf(const fs::path& folder);

// An entry's texts are valid UTF-8 and its content type is a type's code.
void checkEntryTexts(const CacheEntry& entry);

}  // namespace fuzzing

}  // namespace harvix
