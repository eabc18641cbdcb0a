#include "platform/Platform.h"

#include <atomic>

namespace {

std::atomic<IPlatform*>& Swapped() {
    static std::atomic<IPlatform*> swapped{nullptr};
    return swapped;
}

}  // namespace

IPlatform& Platform() {
    IPlatform* swapped = Swapped().load();
    return swapped != nullptr ? *swapped : NativePlatform();
}

ScopedPlatform::ScopedPlatform(IPlatform& fake) : previous_(Swapped().exchange(&fake)) {}

ScopedPlatform::~ScopedPlatform() {
    Swapped().store(previous_);
}
