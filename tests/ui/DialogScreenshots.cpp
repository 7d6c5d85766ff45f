// Opens each dialog of the program as a user sees it and saves a picture of it, so that the look
// can be reviewed: dialog-screenshots <folder>. Talks to nothing but loopback.
#include "app/MainDialog.h"
#include "tests/support/Controls.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"
#include "update/ProgressDialog.h"

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QProgressBar>

namespace {

// Runs the dialog modally, saves its picture as soon as it is open, and closes it.
bool Capture(ostrel::platform::ModalDialog& dialog, const QString& path,
             const std::function<void()>& prepare = {}) {
    bool saved = false;
    ostrel::test::WhenActive(&dialog, [&](QWidget*) {
        if (prepare) {
            prepare();
        }
        QApplication::processEvents();
        saved = dialog.grab().save(path);
        dialog.reject();
    });
    dialog.DoModal();
    std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ostrel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ostrel.png")));
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog-screenshots <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(folder.path());

    ostrel::test::TempDir settingsDir;
    ostrel::test::MessageRecorder messages;
    const ostrel::SettingsStore settings(
        QString::fromStdString(settingsDir.File("ostrel.ini").string()), messages);

    bool ok = true;
    ostrel::MainDialog mainDialog("-I192.168.2.242 -F/home/user/firmware/io-module-1.07.hex",
                                  settings, messages);
    ok &= Capture(mainDialog, folder.filePath(QStringLiteral("main-dialog.png")));

    // A file that does not exist and a loopback address: nothing leaves the machine.
    ostrel::ProgressDialog progress("missing.hex", 0x7F000001, messages, nullptr);
    ok &= Capture(progress, folder.filePath(QStringLiteral("progress-dialog.png")), [&] {
        auto* bar = ostrel::test::FindControl<QProgressBar>(&progress, 1033);
        bar->setRange(0, 1541);
        bar->setValue(704);
    });
    return ok ? 0 : 1;
}
