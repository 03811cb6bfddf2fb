#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// The stored play lists MPD clients keep: one ".m3u" file each in a folder of the application
// data, a track's source (path or URL) per line. Names come from clients: no "/", no line
// breaks or other control characters, no leading ".", at most MaxNameBytes. Every change writes
// the whole file at once (a crash leaves the old one). GUI thread.
class TMpdPlaylists : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxNameBytes = 200;
    static constexpr qsizetype MaxEntries = 100000;
    static constexpr qsizetype MaxFileBytes = 16 * 1024 * 1024;

    // What went wrong, with MPD's error code.
    struct TError {
        int Code =
            0; // 2: a bad argument, 50: no such list, 51: too long, 52: the disk, 56: it exists
        QString Text;
    };
    struct TInfo {
        QByteArray Name;
        QDateTime Modified;
    };

    explicit TMpdPlaylists(const QString &Folder = DefaultFolder(), QObject *Parent = nullptr);

    // The application data's "playlists" folder.
    static QString DefaultFolder();
    static bool IsValidName(const QByteArray &Name);

    // Every list, by name.
    QList<TInfo> List() const;
    // The entries of Name; none, with *Error, when it cannot be read.
    std::optional<QByteArrayList> Load(const QByteArray &Name, TError *Error) const;
    // Writes Entries as Name; a list of that name is replaced only when Replace.
    bool Save(const QByteArray &Name, const QByteArrayList &Entries, bool Replace, TError *Error);
    bool Remove(const QByteArray &Name, TError *Error);
    bool Rename(const QByteArray &From, const QByteArray &To, TError *Error);
    // Appends Entries (making the list when there is none).
    bool Add(const QByteArray &Name, const QByteArrayList &Entries, TError *Error);
    // Removes the entries at positions From..To-1.
    bool Delete(const QByteArray &Name, qsizetype From, qsizetype To, TError *Error);
    // Empties Name (making it when there is none).
    bool Clear(const QByteArray &Name, TError *Error);
    bool Move(const QByteArray &Name, qsizetype From, qsizetype To, TError *Error);

Q_SIGNALS:
    // A list was written, removed or renamed.
    void Changed();

private:
    QString FileOf(const QByteArray &Name) const;
    bool Check(const QByteArray &Name, TError *Error) const;
    bool Write(const QByteArray &Name, const QByteArrayList &Entries, TError *Error);

    QString FFolder;
};
