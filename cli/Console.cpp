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

void Console::Say(const std::string& line) {
    if (!choice.quiet) {
        std::fprintf(Human(), "%s\n", line.c_str());
        std::fflush(Human());
    }
}

void Console::Warn(const std::string& line) {
    if (!choice.quiet) {
        std::fprintf(stderr, "warning: %s\n", line.c_str());
        std::fflush(stderr);
    }
}

void Console::Error(const std::string& line) {
    std::fprintf(stderr, "ostrel-cli: %s\n", line.c_str());
    std::fflush(stderr);
}

void Console::Json(const nlohmann::json& event) {
    if (choice.json) {
        std::printf("%s\n", event.dump().c_str());
        std::fflush(stdout);
    }
}

void Console::Draw(const std::string& text) {
    std::fputs(text.c_str(), Human());
    std::fflush(Human());
}

} // namespace ostrel::cli
