#pragma once

#include <QAction>

#include <functional>

// The menus' entry that lets other people play on this computer or stops them. Its caption
// and picture show what choosing it would do; Update reads the switch again.
class TAllowAction : public QAction {
    Q_OBJECT
public:
    TAllowAction(std::function<bool()> Allowed, QObject *Parent);

    void Update();

private:
    std::function<bool()> FAllowed;
};
