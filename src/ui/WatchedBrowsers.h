// Which browsers the user has the program watch: the settings flag that each
// row of the browser table names by its stored key.
#pragma once

#include <string>
#include <vector>

namespace harvix {

struct Settings;

// The flag stored under `key` ("Mozilla", "IE", "Maxthon", "UseChromium",
// ...); null for a key
// the settings do not hold.
bool* watchFlag(Settings& settings, const std::string& key);
// One flag per row of the browser table, in table order (false for a row
// whose key the settings do not hold).
std::vector<bool> watchedBrowsers(Settings& settings);

}  // namespace harvix
