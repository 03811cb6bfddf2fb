#pragma once

#include <QByteArray>
#include <QFile>
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
