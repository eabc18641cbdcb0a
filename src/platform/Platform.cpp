#include "platform/Platform.h"

#include <atomic>

namespace harvix {

namespace {

std::atomic<IPlatform*>& Swapped() {
    static std::atomic<IPlatform*> swapped{nullptr};
    return swapped;
}

}  // namespace

IPlatform& platformServices() {
    IPlatform* swapped = Swapped().load();
    return swapped != nullptr ? *swapped : nativePlatform();
}

ScopedPlatform::ScopedPlatform(IPlatform& fake) : previous_(Swapped().exchange(&fake)) {}

ScopedPlatform::~ScopedPlatform() {
    Swapped().store(previous_);
}

}  // namespace harvix
