#pragma once

#include <QString>

// Writes a freedesktop .desktop entry; throws std::runtime_error("Ext need .desktop")
// for another extension.
void CreateShortcut(const QString &Target, const QString &Arguments, const QString &LinkFile,
                    const QString &Description);
// Creates or deletes the autostart entry; always true.
bool SetAutoRun(bool Enable);
// Whether the autostart entry exists.
bool IsAutoRun();
// The autostart entry's path.
QString AutoRunFileName();
