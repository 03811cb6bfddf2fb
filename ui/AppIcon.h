#pragma once

#include <QIcon>
#include <QPixmap>

// The program's emblem at Size x Size pixels: a note on a rounded blue square.
QPixmap AppEmblem(int Size);
// The emblem at the usual icon sizes, for windows and the tray.
QIcon AppIcon();

// Side of the allow and deny pictures.
constexpr int AllowPictureSize = 18;
// The 18 x 18 allow picture (a green disc with a tick) or deny picture (a red disc with a bar).
QPixmap AllowPicture(bool Allowed);
