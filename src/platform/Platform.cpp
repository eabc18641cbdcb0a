#include "platform/Platform.h"

#include <atomic>
#include <chrono>

namespace harvix {

namespace {

std::atomic<IPlatform*>& swappedPlatform() {
    static std::atomic<IPlatform*> swapped{nullptr};
    return swapped;
}

}  // namespace

int64_t IPlatform::currentTime() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

IPlatform& platformServices() {
    IPlatform* swapped = swappedPlatform().load();
    return swapped != nullptr ? *swapped : nativePlatform();
}

ScopedPlatform::ScopedPlatform(IPlatform& fake) : previous_(swappedPlatform().exchange(&fake)) {}

ScopedPlatform::~ScopedPlatform() {
    swappedPlatform().store(previous_);
}

}  // namespace harvix
