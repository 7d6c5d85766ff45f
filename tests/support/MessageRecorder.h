#pragma once

#include "platform/MessageSink.h"

#include <string>
#include <vector>

namespace ostrel::test {

// Stands in for the message box: keeps every message and returns at once.
class MessageRecorder final : public platform::MessageSink {
public:
    void Show(const platform::Message& message) override { messages.push_back(message); }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& message : messages) {
            texts.push_back(message.text);
        }
        return texts;
    }
    void Clear() { messages.clear(); }

    std::vector<platform::Message> messages;
};

} // namespace ostrel::test
