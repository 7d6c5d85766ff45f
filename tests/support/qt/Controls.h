#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace ostrel::test {

// The control that carries the given id, as the dialog forms give each one.
template <typename Control = QWidget>
Control* FindControl(const QWidget* dialog, int id) {
    for (Control* control : dialog->findChildren<Control*>()) {
        if (control->property("controlId").toInt() == id) {
            return control;
        }
    }
    return nullptr;
}

// The id of the control a widget belongs to (a field of a composite control belongs to it).
inline int ControlIdOf(const QWidget* widget, const QWidget* dialog) {
    for (; widget != nullptr && widget != dialog; widget = widget->parentWidget()) {
        if (widget->property("controlId").isValid()) {
            return widget->property("controlId").toInt();
        }
    }
    return 0;
}

// The ids of the controls in the order Tab visits them, starting at the given one.
inline std::vector<int> TabOrder(const QWidget* dialog, int firstId) {
    const QWidget* first = FindControl(dialog, firstId);
    std::vector<int> ids;
    const QWidget* widget = first;
    do {
        const int id = ControlIdOf(widget, dialog);
        if ((widget->focusPolicy() & Qt::TabFocus) && id != 0 &&
            (ids.empty() || ids.back() != id)) {
            ids.push_back(id);
        }
        widget = widget->nextInFocusChain();
    } while (widget != first && ids.size() < 64);
    return ids;
}

// The id of the control that holds the keyboard focus, 0 for none.
inline int FocusedControl(const QWidget* dialog) {
    return ControlIdOf(QApplication::focusWidget(), dialog);
}

// Presses Tab (or Shift+Tab) the given number of times on whatever has the focus, as a user
// would, and gives the control that holds the focus after each press.
inline std::vector<int> TabWalk(const QWidget* dialog, int presses, bool backwards = false) {
    std::vector<int> ids;
    for (int i = 0; i < presses; ++i) {
        QWidget* focused = QApplication::focusWidget();
        if (focused == nullptr) {
            break;
        }
        QTest::keyClick(focused, backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                        backwards ? Qt::ShiftModifier : Qt::NoModifier);
        ids.push_back(FocusedControl(dialog));
    }
    return ids;
}

// Calls action with the first open modal dialog that the filter takes, as soon as there is one;
// gives up after the limit, or when watched goes.
inline void WhenModal(std::function<bool(const QWidget*)> filter,
                      std::function<void(QWidget*)> action, std::chrono::milliseconds limit,
                      const QObject* watched = nullptr) {
    auto* poll = new QTimer(qApp);
    if (watched != nullptr) {
        // A poll that outlived its dialog could take another dialog at the same address.
        QObject::connect(watched, &QObject::destroyed, poll, [poll] {
            poll->stop();
            poll->deleteLater();
        });
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, filter, action, end] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool open = modal != nullptr && modal->isVisible() && filter(modal);
        if (open || std::chrono::steady_clock::now() > end) {
            poll->stop();
            poll->deleteLater();
            if (open) {
                action(modal);
            }
        }
    });
    poll->start();
}

// Calls action with the next modal dialog other than except, as soon as it is open.
inline void WhenModalOpens(std::function<void(QWidget*)> action, const QWidget* except = nullptr,
                           std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    WhenModal([except](const QWidget* modal) { return modal != except; }, std::move(action), limit);
}

// Calls action once the given dialog is open and is the active modal dialog.
inline void WhenActive(const QWidget* dialog, std::function<void(QWidget*)> action,
                       std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    WhenModal([dialog](const QWidget* modal) { return modal == dialog; }, std::move(action), limit,
              dialog);
}

} // namespace ostrel::test
