#pragma once

#include <QAccessible>
#include <QLabel>
#include <QStringList>
#include <QWidget>

// The class names of Top's visible controls (focusable widgets and labels) that give a
// screen reader no name.
inline QStringList NamelessControls(QWidget *Top) {
    QStringList Nameless;
    for (QWidget *W : Top->findChildren<QWidget *>()) {
        if (!W->isVisibleTo(Top) || (!W->focusPolicy() && !qobject_cast<QLabel *>(W)))
            continue;
        if (QAccessible::queryAccessibleInterface(W)->text(QAccessible::Name).isEmpty())
            Nameless << W->metaObject()->className();
    }
    return Nameless;
}
