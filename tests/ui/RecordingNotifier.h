// A notifier for the GUI tests: records every message box instead of showing it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ui/Notifier.h"

namespace harvix {

// Records every message instead of showing it; answers with `answer`.
class RecordingNotifier : public INotifier {
public:
    struct Message {
        std::string caption;
        std::string text;
        MessageIcon icon;
        MessageButtons buttons;
    };
    std::vector<Message> messages;
    MessageResult answer = MessageResult::Ok;

    MessageResult show(const std::string& caption, const std::string& text, MessageIcon icon,
                       MessageButtons buttons) override {
        static std::mutex lock;
        const std::lock_guard<std::mutex> guard(lock);
        messages.push_back(Message{caption, text, icon, buttons});
        return answer;
    }
};

// Installs a RecordingNotifier for the lifetime of the object.
class ScopedRecordingNotifier {
public:
    ScopedRecordingNotifier() : previous_(setNotifier(&notifier)) {}
    ~ScopedRecordingNotifier() { setNotifier(previous_); }
    ScopedRecordingNotifier(const ScopedRecordingNotifier&) = delete;
    ScopedRecordingNotifier& operator=(const ScopedRecordingNotifier&) = delete;
    RecordingNotifier notifier;

private:
    INotifier* previous_;
};

}  // namespace harvix
