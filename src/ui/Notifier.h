// Message boxes raised by the core. The core never draws a window: it asks the
// notifier that the front end installed. The tray program shows a message box
// on its UI thread while the calling thread waits; harvix-cli prints the text
// to standard error. Without an installed notifier the text goes to standard
// error and every question is answered No, so nothing acts by default.
#pragma once

#include <string>

namespace harvix {

enum class MessageIcon { Error, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageResult { Ok, Yes, No, Cancel };

class INotifier {
public:
    virtual ~INotifier() = default;
    // Shows `text` and waits for the user's answer. Safe to call from any thread.
    virtual MessageResult show(const std::string& caption, const std::string& text,
                               MessageIcon icon, MessageButtons buttons) = 0;
};

// Prints to standard error; questions are answered No.
class StderrNotifier final : public INotifier {
public:
    MessageResult show(const std::string& caption, const std::string& text, MessageIcon icon,
                       MessageButtons buttons) override;
};

// The notifier in force.
INotifier& notifier();
// Installs `notifier` (nullptr restores the standard-error one) and returns
// the one it replaces. The caller keeps ownership.
INotifier* setNotifier(INotifier* notifier);

// Shorthand: shows `text` with the program's caption.
MessageResult showMessage(const std::string& text, MessageIcon icon,
                          MessageButtons buttons = MessageButtons::Ok);

}  // namespace harvix
