#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>

namespace ostrel::platform {

namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void MessageBox::Show(const Message& message) {
    const QString caption = message.caption.empty() ? QCoreApplication::applicationName()
                                                    : QString::fromStdString(message.caption);
    QMessageBox box(ToQtIcon(message.icon), caption, QString::fromStdString(message.text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace ostrel::platform
