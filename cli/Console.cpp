#include "cli/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace ostrel::cli {

namespace {

constexpr int defaultWidth = 80;

} // namespace

Console::Console(Choice chosen)
    : choice(chosen), humanOnTerminal(::isatty(::fileno(chosen.json ? stderr : stdout)) == 1) {}

int Console::TerminalWidth() const {
    winsize size{};
    if (::ioctl(::fileno(Human()), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return defaultWidth;
}

void Console::Notice(Level level, const std::string& text) {
    switch (level) {
    case Level::Info:
        if (!choice.quiet) {
            std::fprintf(Human(), "%s\n", text.c_str());
            std::fflush(Human());
        }
        break;
    case Level::Warning:
        if (!choice.quiet) {
            std::fprintf(stderr, "warning: %s\n", text.c_str());
            std::fflush(stderr);
        }
        break;
    case Level::Error:
        std::fprintf(stderr, "ostrel-cli: %s\n", text.c_str());
        std::fflush(stderr);
        break;
    }
}

void Console::Json(const nlohmann::json& event) {
    if (choice.json) {
        // Text from the network may be no UTF-8: such bytes become U+FFFD rather than an error.
        std::printf("%s\n",
                    event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        std::fflush(stdout);
    }
}

void Console::Draw(const std::string& text) {
    std::fputs(text.c_str(), Human());
    std::fflush(Human());
}

} // namespace ostrel::cli
