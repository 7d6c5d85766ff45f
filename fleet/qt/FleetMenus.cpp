#include "fleet/qt/FleetMenus.h"

#include "devices/NetworkInterfaces.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace ostrel {

FleetMenus::FleetMenus(QMainWindow& owner, const Handlers& on) : window(owner) {
    QMenuBar* bar = window.menuBar();
    QMenu* fleet = bar->addMenu(QObject::tr("&Fleet"));
    Add(fleet, QObject::tr("&Scan"), QKeySequence(Qt::Key_F5), on.scan);
    Add(fleet, QObject::tr("&Update selected…"), QKeySequence(Qt::CTRL | Qt::Key_U), on.update);
    Add(fleet, QObject::tr("&Verify selected…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V),
        on.verify);
    Add(fleet, QObject::tr("S&top"), QKeySequence(Qt::CTRL | Qt::Key_Period), on.stop);
    fleet->addSeparator();
    saveReport =
        Add(fleet, QObject::tr("Save &report…"), QKeySequence(Qt::CTRL | Qt::Key_R), on.saveReport);
    saveReport->setEnabled(false);
    Add(fleet, QObject::tr("&Export table…"), QKeySequence(Qt::CTRL | Qt::Key_E), on.exportTable);
    fleet->addSeparator();
    Add(fleet, QObject::tr("&Quit"), QKeySequence::Quit, on.quit);
    QMenu* module = bar->addMenu(QObject::tr("&Module"));
    Add(module, QObject::tr("Identify &on"), QKeySequence(Qt::CTRL | Qt::Key_I), on.identifyOn);
    Add(module, QObject::tr("Identify o&ff"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        on.identifyOff);
    Add(module, QObject::tr("&Setup…"), QKeySequence(Qt::CTRL | Qt::Key_T), on.setup);
    QMenu* edit = bar->addMenu(QObject::tr("&Edit"));
    Add(edit, QObject::tr("&Filter"), QKeySequence::Find, on.findFilter);
    Add(edit, QObject::tr("Select &all matching"), QKeySequence::SelectAll, on.selectAll);
    interfaces = bar->addMenu(QObject::tr("&Interfaces"));
    for (const NetworkInterface& interface : BroadcastInterfaces()) {
        interfaces->addAction(QString::fromStdString(interface.name))->setCheckable(true);
    }
    if (interfaces->isEmpty()) {
        interfaces->addAction(QObject::tr("(none can broadcast)"))->setEnabled(false);
    }
}

QAction* FleetMenus::Add(QMenu* menu, const QString& text, const QKeySequence& keys,
                         const std::function<void()>& handler) {
    QAction* action = menu->addAction(text);
    action->setShortcut(keys);
    QObject::connect(action, &QAction::triggered, &window, [handler] { handler(); });
    window.addAction(action);
    return action;
}

std::vector<std::string> FleetMenus::ChosenInterfaces() const {
    std::vector<std::string> chosen;
    for (const QAction* action : interfaces->actions()) {
        if (action->isChecked()) {
            chosen.push_back(action->text().toStdString());
        }
    }
    return chosen;
}

} // namespace ostrel
