#include "platform/EnvironmentTrace.h"

#include "common/Version.h"

#include <cstdio>
#include <cstdlib>

#include <QMessageBox>

namespace ostrel::platform {

namespace {

void Tell(const std::string& program, bool windowsSeen, const std::string& text) {
    if (windowsSeen) {
        QMessageBox::warning(nullptr, QString::fromStdString(program),
                             QString::fromStdString(text));
    } else {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), text.c_str());
    }
}

} // namespace

EnvironmentTrace::EnvironmentTrace(const std::string& program, bool windowsSeen) {
    const char* path = std::getenv("OSTREL_TRACE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    std::string error;
    // A full disk later is one line on standard error: a box in the middle of an update
    // would stop nothing and help nobody.
    trace = WireTrace::Create(
        path, program + " " + programVersion,
        [program](const std::string& text) {
            std::fprintf(stderr, "%s: warning: %s\n", program.c_str(), text.c_str());
        },
        error);
    if (!trace) {
        Tell(program, windowsSeen,
             "The trace " + std::string(path) + " cannot be written (" + error +
                 "); the program goes on without it.");
        return;
    }
    scope.emplace(*trace);
}

} // namespace ostrel::platform
