// The copies of a comb made ahead of the pass, on a few worker threads.
//
// The pass hands the pool its entries in order and takes each back in the
// same order; what a worker made for an entry (its copies, still without a
// name, and what went wrong) waits in the entry's EntryWork until the pass
// compares, names, counts and tells it on its own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "filter/SiteTree.h"
#include "platform/NewFile.h"
#include "readers/CacheReader.h"

namespace harvix::comb {

// What became of one entry's copy for one item, in the items' order.
struct Step {
    enum class Kind { FolderUnmade, Failed, TooSmall, NoData, Copy };
    Kind kind = Kind::Failed;
    std::size_t item = 0;
    int error = 0;       // FolderUnmade: why the item's folder cannot be made
    std::string reason;  // Failed: the reason the failure is counted under
    // In the site's tree: the folder of the URL's path, held open until the
    // copy made in it is named, and the file's name there. Declared before
    // `file`, so that the copy goes first while its folder is still held.
    std::optional<SiteFolder> site;
    std::string siteName;
    NewFile file;       // Copy: the complete copy, still without a name
    uint64_t size = 0;  // Copy: its size
};

// One entry on its way through the pass.
struct EntryWork {
    const CacheEntry* entry = nullptr;
    std::vector<Step> steps;
    // With One Copy: the item after the one whose copy ends `steps`, where
    // the entry goes on should that copy get no name; 0 when it ends else.
    std::size_t resumeAt = 0;
    std::exception_ptr thrown;  // what preparing threw, thrown again in order
    bool done = false;          // prepared (or passed over after a stop)
};

// The threads that prepare entries ahead of the pass. The pass hands them
// entries in order (add) and takes each back in the same order (waitFor);
// entries still waiting when the pool goes are dropped, those being
// prepared are finished first. A worker that sees the stop flag prepares
// nothing more. With no thread to be had, add prepares on the caller's.
class CopyPool {
public:
    CopyPool(unsigned workers, std::function<void(EntryWork&)> prepare,
             const std::atomic<bool>* stop);
    ~CopyPool();
    CopyPool(const CopyPool&) = delete;
    CopyPool& operator=(const CopyPool&) = delete;

    void add(EntryWork& work);
    void waitFor(const EntryWork& work);

private:
    void work();
    void run(EntryWork& work);

    std::function<void(EntryWork&)> prepare_;
    const std::atomic<bool>* stop_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<EntryWork*> waiting_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace harvix::comb
