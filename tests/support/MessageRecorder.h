#pragma once

#include "common/MessageSink.h"

#include <string>
#include <vector>

namespace ostrel::test {

// Stands in for the message box: keeps every message and returns at once.
class MessageRecorder final : public MessageSink {
public:
    void Show(const Message& message) override { messages.push_back(message); }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& message : messages) {
            texts.push_back(message.text);
        }
        return texts;
    }
    void Clear() { messages.clear(); }

    std::vector<Message> messages;
};

} // namespace ostrel::test
