#pragma once

#include <QIcon>
#include <QPixmap>

// The program's emblem at Size x Size pixels: a note on a rounded blue square.
QPixmap AppEmblem(int Size);
// The emblem at the usual icon sizes, for windows and the tray.
QIcon AppIcon();
