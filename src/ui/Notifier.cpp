#include "ui/Notifier.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace harvix {

namespace {

StderrNotifier& defaultNotifier() {
    static StderrNotifier instance;
    return instance;
}

std::atomic<INotifier*>& currentNotifier() {
    static std::atomic<INotifier*> current{nullptr};
    return current;
}

}  // namespace

MessageResult StderrNotifier::show(const std::string& caption, const std::string& text,
                                   MessageIcon /*icon*/, MessageButtons buttons) {
    // One message at a time, so that texts from two threads never interleave.
    static std::mutex lock;
    const std::lock_guard<std::mutex> guard(lock);
    if (!caption.empty()) {
        std::fprintf(stderr, "%s: ", caption.c_str());
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    return buttons == MessageButtons::Ok ? MessageResult::Ok : MessageResult::No;
}

INotifier& notifier() {
    INotifier* current = currentNotifier().load();
    return current != nullptr ? *current : defaultNotifier();
}

INotifier* setNotifier(INotifier* notifier) {
    return currentNotifier().exchange(notifier);
}

MessageResult showMessage(const std::string& text, MessageIcon icon, MessageButtons buttons) {
    return notifier().show("Harvix", text, icon, buttons);
}

}  // namespace harvix
