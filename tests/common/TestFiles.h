#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>

// A file's bytes, or a marker that no file holds, so a comparison shows what went wrong.
inline QByteArray ReadAll(const QString &Path) {
    QFile F(Path);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray("<unreadable>");
}

// Replaces a file's bytes; false when it could not be written whole.
inline bool WriteAll(const QString &Path, const QByteArray &Data) {
    QFile F(Path);
    return F.open(QIODevice::WriteOnly | QIODevice::Truncate) && F.write(Data) == Data.size();
}

// The environment for a copy of the program that keeps its files under Home and needs no
// display.
inline QProcessEnvironment OwnHomeEnvironment(const QString &Home) {
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("HOME", Home);
    Env.insert("XDG_DATA_HOME", Home + "/data");
    Env.insert("XDG_CONFIG_HOME", Home + "/config");
    Env.insert("XDG_RUNTIME_DIR", Home + "/run");
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    return Env;
}
