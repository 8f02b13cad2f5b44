#include "TrayMenu.h"

#include <QCoreApplication>

namespace TrayMenu {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("TrayMenu", text);
}

Item entry(Action action, const QString& label, QKeySequence key = {})
{
    return { false, action, label, key };
}

} // namespace

std::vector<Item> items(bool updaterActive)
{
    std::vector<Item> menu;
    menu.push_back(entry(Action::refresh, tr("Refresh Now"), QKeySequence(Qt::CTRL | Qt::Key_R)));
    menu.push_back(entry(Action::openConsole, tr("Open Console\u2026")));
    if (updaterActive)
        menu.push_back(entry(Action::checkForUpdates, tr("Check for Updates\u2026")));
    menu.push_back({ .separator = true });
    menu.push_back(entry(Action::settings, tr("Settings\u2026"), QKeySequence(Qt::CTRL | Qt::Key_Comma)));
    menu.push_back({ .separator = true });
    menu.push_back(entry(Action::quit, tr("Quit Velmo Usage"), QKeySequence(Qt::CTRL | Qt::Key_Q)));
    return menu;
}

} // namespace TrayMenu
