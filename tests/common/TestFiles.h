#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

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

// WriteAll for a path given as the file system's bytes (which need not be UTF-8).
inline bool WriteAtPath(const QByteArray &Path, const QByteArray &Data) {
    const int Fd = ::open(Path.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    const bool Ok = Fd >= 0 && ::write(Fd, Data.constData(), size_t(Data.size())) == Data.size();
    return Fd >= 0 && ::close(Fd) == 0 && Ok;
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
