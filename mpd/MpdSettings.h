#pragma once

#include <QByteArray>
#include <QString>

// The door's settings, from section [Mpd] of the settings file.
struct TMpdSettings {
    // "Enabled=0" or "Port=0" turns the door off.
    bool Enabled = true;
    quint16 Port = 6600;
    // "Password": when not empty, a client must send it before any other command.
    QByteArray Password;
    // Time-outs in milliseconds: a connection that sends no command for IdleTimeoutMs is
    // closed, unless it waits in "idle".
    qint64 IdleTimeoutMs = 60 * 1000;
};

// The settings from the settings file at IniFile; defaults where it says nothing.
TMpdSettings LoadMpdSettings(const QString &IniFile);
