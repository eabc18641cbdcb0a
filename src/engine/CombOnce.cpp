#include "engine/CombOnce.h"

namespace harvix {

namespace {

// Closes the reader when the comb is left, also through an exception.
class ClosedAtEnd {
public:
    explicit ClosedAtEnd(CacheReader& reader) : reader_(reader) {}
    ~ClosedAtEnd() { reader_.close(); }
    ClosedAtEnd(const ClosedAtEnd&) = delete;
    ClosedAtEnd& operator=(const ClosedAtEnd&) = delete;

private:
    CacheReader& reader_;
};

}  // namespace

CombRun combOnce(CacheReader& reader, const FilterSnapshot& snapshot, const CombOptions& options,
                 CombObserver& observer, IPlatform& platform, const std::atomic<bool>* stop) {
    CombRun run;
    run.openError = openCache(reader);
    if (run.openError) {
        return run;
    }
    const ClosedAtEnd closed(reader);
    run.cacheLocation = reader.cacheLocation();
    if (stop != nullptr && *stop) {
        run.result.stopped = true;
        return run;
    }
    if (stop != nullptr) {
        // A stop cuts a long reading short too; the pass then combs nothing.
        reader.setReadingWatch([stop](const auto&) { return !*stop; });
    }
    const Reading reading = readCache(reader);
    run.entriesRead = reading.entries.size();
    run.skipped = reading.skipped;
    run.result = runComb(reader, reading, snapshot, options, observer, platform, stop);
    return run;
}

}  // namespace harvix
