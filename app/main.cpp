#include "app/CommandLine.h"
#include "app/UpdaterApp.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    // Taken before QApplication removes the options it knows from argv.
    const std::string tail = ostrel::JoinArguments(std::span(argv, static_cast<std::size_t>(argc)));
    QApplication application(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ostrel.png")));
    return ostrel::UpdaterApp().Run(tail);
}
