// Opens each dialog of the program as a user sees it and saves a picture of it, so that the look
// can be reviewed: dialog-screenshots <folder>. Talks to nothing but loopback.
#include "app/qt/MainDialog.h"
#include "devices/ManagementDatagrams.h"
#include "devices/qt/FindDialog.h"
#include "devices/qt/SetupDialog.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpPeer.h"
#include "tests/support/qt/Controls.h"
#include "update/qt/ProgressDialog.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>

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

// A simulated module on a loopback address of its own, with the identity given.
std::unique_ptr<ostrel::test::SimProcess> StartModule(const char* address,
                                                      std::vector<std::string> identity) {
    ostrel::test::SimOptions options;
    options.address = address;
    options.port = 6234;
    options.args = std::move(identity);
    return std::make_unique<ostrel::test::SimProcess>(options);
}

// The module's answer to a read request, asked directly (never by broadcast).
std::vector<std::uint8_t> AskModule(const char* address) {
    ostrel::test::UdpPeer asker;
    sockaddr_in module{};
    module.sin_family = AF_INET;
    module.sin_port = htons(6234);
    inet_pton(AF_INET, address, &module.sin_addr);
    asker.SendTo(module, ostrel::BuildReadRequest());
    const auto reply = asker.Receive(std::chrono::seconds(2));
    return reply ? reply->bytes : std::vector<std::uint8_t>{};
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

    // The discovery dialog filled with the answers of three simulated modules. It is shown
    // without running its scan, so that nothing is broadcast.
    const std::vector<std::pair<const char*, std::vector<std::string>>> found = {
        {"127.0.16.1",
         {"--name", "IO-8", "--mac", "00-50-C2-4A-10-01", "--ip", "192.168.2.21", "--ident",
          "Pump house"}},
        {"127.0.16.2",
         {"--name", "AIO-4", "--mac", "00-50-C2-4A-10-07", "--ip", "192.168.2.22", "--app-version",
          "1.07", "--ident", "Line 2 dosing"}},
        {"127.0.16.3",
         {"--name", "IO-16R", "--mac", "00-50-C2-4A-0F-FE", "--ip", "192.168.2.30", "--ident",
          "Rack 4 left"}},
    };
    ostrel::FindDialog find(messages, nullptr);
    for (const auto& [address, identity] : found) {
        const auto module = StartModule(address, identity);
        find.HandleReply(AskModule(address));
    }
    find.show();
    QApplication::processEvents();
    const QString findPath = folder.filePath(QStringLiteral("find-dialog.png"));
    const bool findSaved = find.grab().save(findPath);
    std::printf("%s %s\n", findSaved ? "saved" : "FAILED", qPrintable(findPath));
    find.hide();
    ok &= findSaved && find.Devices().Nodes().size() == found.size();

    const auto setupModule =
        StartModule("127.0.16.4", {"--name", "IO-8", "--ident", "Pump house", "--pid", "0x0B73",
                                   "--reception-port", "6240", "--ip", "192.168.2.21"});
    ostrel::SetupDialog setup(0x7F001004, messages, nullptr);
    ok &= Capture(setup, folder.filePath(QStringLiteral("setup-dialog.png")));
    return ok ? 0 : 1;
}
