#include "readers/CacheBrowser.h"

#include "engine/Error.h"

CCacheBrowser::~CCacheBrowser() {
    ClearEntries();
}

bool CCacheBrowser::TryOpen() {
    try {
        Open();
    } catch (const CError&) {
        Close();
        return false;
    }
    return true;
}

void CCacheBrowser::LoadEntries() {
    ClearEntries();
    ReadEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i]->index = static_cast<uint32_t>(i);
    }
}

void CCacheBrowser::ClearEntries() {
    entries.clear();
}

bool CCacheBrowser::CopyEntry(const fs::path& target, CCacheElement& entry) {
    try {
        return CopyEntryData(entry, target, false);
    } catch (const CError&) {
        return false;
    }
}
