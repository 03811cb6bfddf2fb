#pragma once

#include <QByteArray>
#include <QDir>
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

// Where a copy of the program run with OwnHomeEnvironment(Home) keeps its settings and library.
inline QString OwnDataDir(const QString &Home) {
    return Home + "/data/Marvane/Vellox Player";
}

// Makes the data folder and a private runtime folder under Home, as a login session has them.
inline bool MakeOwnHome(const QString &Home) {
    const QString Run = Home + "/run";
    return QDir().mkpath(OwnDataDir(Home)) && QDir().mkpath(Run) &&
           QFile::setPermissions(Run, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
}
