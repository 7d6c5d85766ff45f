#include "platform/UserInputBlocker.h"

#include <QCoreApplication>
#include <QEvent>

namespace ostrel::platform {

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

UserInputBlocker::UserInputBlocker() {
    QCoreApplication::instance()->installEventFilter(this);
}

UserInputBlocker::~UserInputBlocker() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool UserInputBlocker::eventFilter(QObject* watched, QEvent* event) {
    // A close from the window manager is the user's too; one the program asks for is not.
    const bool closedByUser = event->type() == QEvent::Close && event->spontaneous();
    if (IsUserInput(event->type()) || closedByUser) {
        event->accept(); // a swallowed ShortcutOverride must not turn into a shortcut
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ostrel::platform
