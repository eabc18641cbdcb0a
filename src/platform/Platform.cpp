#include "platform/Platform.h"

#include <atomic>
#include <chrono>

namespace harvix {

namespace {

std::atomic<IPlatform*>& Swapped() {
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
    IPlatform* swapped = Swapped().load();
    return swapped != nullptr ? *swapped : nativePlatform();
}

ScopedPlatform::ScopedPlatform(IPlatform& fake) : previous_(Swapped().exchange(&fake)) {}

ScopedPlatform::~ScopedPlatform() {
    Swapped().store(previous_);
}

}  // namespace harvix
