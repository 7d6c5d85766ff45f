#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QKeySequence>
#include <QMainWindow>

class QAction;
class QMenu;

namespace ostrel {

// The fleet window's menus: every action with its shortcut, reachable from the keyboard.
class FleetMenus {
public:
    struct Handlers {
        std::function<void()> scan, update, verify, stop, saveReport, exportTable, quit;
        std::function<void()> identifyOn, identifyOff, setup, findFilter, selectAll;
    };

    FleetMenus(QMainWindow& window, const Handlers& handlers);

    // The interfaces ticked in the Interfaces menu; none: every one that can broadcast.
    std::vector<std::string> ChosenInterfaces() const;
    QAction* SaveReport() const { return saveReport; }

private:
    QAction* Add(QMenu* menu, const QString& text, const QKeySequence& keys,
                 const std::function<void()>& handler);

    QMainWindow& window;
    QMenu* interfaces;
    QAction* saveReport;
};

} // namespace ostrel
