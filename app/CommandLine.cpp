#include "app/CommandLine.h"

#include "common/DecimalText.h"

namespace ostrel {

namespace {

std::size_t EndOfWord(std::string_view text, std::size_t pos) {
    while (pos < text.size() && !IsBlank(text[pos])) {
        ++pos;
    }
    return pos;
}

char UpperCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string JoinArguments(std::span<char* const> argv) {
    std::string tail;
    for (std::size_t i = 1; i < argv.size() && argv[i] != nullptr; ++i) {
        if (i > 1) {
            tail += ' ';
        }
        tail += argv[i];
    }
    return tail;
}

CommandLineOptions ParseCommandLine(std::string_view text, DeviceAddress initialAddress,
                                    const StorePathFunction& storePath) {
    CommandLineOptions options;
    options.startAddress = initialAddress;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t dash = text.find('-', pos);
        if (dash == std::string_view::npos) {
            break;
        }
        const std::size_t letter = dash + 1;
        const char option = letter < text.size() ? UpperCase(text[letter]) : '\0';
        if (option == 'F') {
            const std::size_t valueEnd = EndOfWord(text, letter + 1);
            options.fileGiven = true;
            options.fileName = std::string(text.substr(letter + 1, valueEnd - letter - 1));
            storePath(options.fileName);
            pos = valueEnd;
            continue;
        }
        if (option == 'A') {
            options.automatic = true;
        } else if (option == 'I') {
            options.startAddress = ParseAddressLoose(text.substr(letter + 1));
        }
        pos = EndOfWord(text, dash);
    }
    return options;
}

} // namespace ostrel
