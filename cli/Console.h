#pragma once

#include "fleet/FleetListener.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

namespace ostrel::cli {

// Where the console's words go. Human text goes to standard output, or to standard error when
// standard output carries JSON lines; errors always go to standard error. --quiet leaves only
// the errors (and the JSON).
class Console final : public Notices {
public:
    struct Choice {
        bool json = false;
        bool quiet = false;
    };

    explicit Console(Choice choice);

    bool JsonLines() const { return choice.json; }
    bool Quiet() const { return choice.quiet; }
    // A progress bar can be redrawn in place: human text goes to a terminal.
    bool HumanOnTerminal() const { return !choice.quiet && humanOnTerminal; }
    int TerminalWidth() const;

    // Info as a line of human text, a warning as "warning: ...", an error as "ostrel-cli: ...".
    void Notice(Level level, const std::string& text) override;
    void Json(const nlohmann::json& event);
    // Text to the human stream as it is, for a display that redraws itself; flushed.
    void Draw(const std::string& text);

private:
    std::FILE* Human() const { return choice.json ? stderr : stdout; }

    Choice choice;
    bool humanOnTerminal;
};

} // namespace ostrel::cli
