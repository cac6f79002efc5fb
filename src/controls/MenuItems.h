#pragma once

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QString>

// Menu items named as in a window's design, so that tests and the settings file find them by
// their object names.

// Adds an item to menu, with its shortcut when one is given.
inline QAction *menuItem(QMenu *menu, const char *name, const QString &caption, const QKeySequence &shortcut = {})
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}
