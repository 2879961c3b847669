#pragma once

#include <QAction>
#include <QKeySequence>
#include <QObject>
#include <QString>
#include <QWidget>

namespace spirell::app {

// An action whose keys work while the window is active (or, with
// Qt::ApplicationShortcut, anywhere in the program), named so that menus and
// tests can find it; owner keeps it, and the caller connects what it does.
inline QAction* addShortcutAction(QWidget* window, QObject* owner, const char* name,
                                  const QString& text, const QKeySequence& keys,
                                  Qt::ShortcutContext context = Qt::WindowShortcut) {
    auto* action = new QAction(text, owner);
    action->setObjectName(name);
    action->setShortcut(keys);
    action->setShortcutContext(context);
    window->addAction(action);
    return action;
}

} // namespace spirell::app
