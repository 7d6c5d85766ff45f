#pragma once

#include <string>

namespace ostrel {

enum class MessageIcon {
    None,
    Information,
    Exclamation,
    Error,
};

// A message for the user with an OK button. An empty caption stands for the program's name.
struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
};

// How the program's layers reach the user: a modal message box in the program, a recorder in
// tests. Showing returns when the user has acknowledged the message.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void Show(const Message& message) = 0;

    // A message under the program's own name.
    void Say(std::string text, MessageIcon icon = MessageIcon::None) {
        Show({std::move(text), {}, icon});
    }
};

} // namespace ostrel
