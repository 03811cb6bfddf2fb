#include "MpdPlaylists.h"

#include "AsciiText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

const QString Extension = QStringLiteral(".m3u");

bool Fail(TMpdPlaylists::TError *Error, int Code, const QString &Text) {
    if (Error)
        *Error = {Code, Text};
    return false;
}

} // namespace

TMpdPlaylists::TMpdPlaylists(const QString &Folder, QObject *Parent)
    : QObject(Parent), FFolder(Folder) {}

QString TMpdPlaylists::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Marvane/Vellox Player/playlists");
}

bool TMpdPlaylists::IsValidName(const QByteArray &Name) {
    if (Name.isEmpty() || Name.size() > MaxNameBytes || Name.startsWith('.'))
        return false;
    if (!QUtf8StringView(Name).isValidUtf8())
        return false;
    return std::none_of(Name.begin(), Name.end(), [](char C) {
        return C == '/' || C == '\\' || (unsigned char)C < 0x20 || C == 0x7f;
    });
}

QString TMpdPlaylists::FileOf(const QByteArray &Name) const {
    return FFolder + '/' + QString::fromUtf8(Name) + Extension;
}

bool TMpdPlaylists::Check(const QByteArray &Name, TError *Error) const {
    return IsValidName(Name) || Fail(Error, 2, QStringLiteral("Bad playlist name"));
}

QList<TMpdPlaylists::TInfo> TMpdPlaylists::List() const {
    QList<TInfo> Lists;
    const QFileInfoList Files =
        QDir(FFolder).entryInfoList({QStringLiteral("*.m3u")}, QDir::Files, QDir::Name);
    for (const QFileInfo &File : Files) {
        const QByteArray Name = File.completeBaseName().toUtf8();
        // A file put there by hand with a name no client could send is left alone.
        if (IsValidName(Name) && File.fileName() == QString::fromUtf8(Name) + Extension)
            Lists.append({Name, File.lastModified()});
    }
    return Lists;
}

std::optional<QByteArrayList> TMpdPlaylists::Load(const QByteArray &Name, TError *Error) const {
    if (!Check(Name, Error))
        return std::nullopt;
    QFile File(FileOf(Name));
    if (!File.open(QIODevice::ReadOnly)) {
        Fail(Error, 50, QStringLiteral("No such playlist"));
        return std::nullopt;
    }
    if (File.size() > MaxFileBytes) {
        Fail(Error, 51, QStringLiteral("Playlist is too large"));
        return std::nullopt;
    }
    const QByteArray Text = File.read(MaxFileBytes);
    QByteArrayList Entries;
    ForEachLine(Text, [&](QByteArrayView Line) {
        const QByteArray Entry = TrimBlanks(Line.toByteArray());
        if (!Entry.isEmpty() && !Entry.startsWith('#') && !Entry.contains('\0') &&
            Entries.size() < MaxEntries)
            Entries.append(Entry);
    });
    return Entries;
}

bool TMpdPlaylists::Write(const QByteArray &Name, const QByteArrayList &Entries, TError *Error) {
    if (Entries.size() > MaxEntries)
        return Fail(Error, 51, QStringLiteral("Playlist is too large"));
    QByteArray Text;
    for (const QByteArray &Entry : Entries) {
        if (Entry.contains('\n') || Entry.contains('\r') || Entry.contains('\0'))
            continue;
        Text += Entry + '\n';
    }
    if (Text.size() > MaxFileBytes)
        return Fail(Error, 51, QStringLiteral("Playlist is too large"));
    QDir().mkpath(FFolder);
    QSaveFile File(FileOf(Name));
    if (!File.open(QIODevice::WriteOnly) || File.write(Text) != Text.size() || !File.commit())
        return Fail(Error, 52, QStringLiteral("Cannot write the playlist: ") + File.errorString());
    Q_EMIT Changed();
    return true;
}

bool TMpdPlaylists::Save(const QByteArray &Name, const QByteArrayList &Entries, bool Replace,
                         TError *Error) {
    if (!Check(Name, Error))
        return false;
    if (!Replace && QFileInfo::exists(FileOf(Name)))
        return Fail(Error, 56, QStringLiteral("Playlist already exists"));
    return Write(Name, Entries, Error);
}

bool TMpdPlaylists::Remove(const QByteArray &Name, TError *Error) {
    if (!Check(Name, Error))
        return false;
    if (!QFile::remove(FileOf(Name)))
        return Fail(Error, 50, QStringLiteral("No such playlist"));
    Q_EMIT Changed();
    return true;
}

bool TMpdPlaylists::Rename(const QByteArray &From, const QByteArray &To, TError *Error) {
    if (!Check(From, Error) || !Check(To, Error))
        return false;
    if (!QFileInfo::exists(FileOf(From)))
        return Fail(Error, 50, QStringLiteral("No such playlist"));
    if (QFileInfo::exists(FileOf(To)))
        return Fail(Error, 56, QStringLiteral("Playlist already exists"));
    if (!QFile::rename(FileOf(From), FileOf(To)))
        return Fail(Error, 52, QStringLiteral("Cannot rename the playlist"));
    Q_EMIT Changed();
    return true;
}

bool TMpdPlaylists::Add(const QByteArray &Name, const QByteArrayList &Entries, TError *Error) {
    if (!Check(Name, Error))
        return false;
    QByteArrayList Old;
    if (QFileInfo::exists(FileOf(Name))) {
        auto Loaded = Load(Name, Error);
        if (!Loaded)
            return false;
        Old = std::move(*Loaded);
    }
    return Write(Name, Old + Entries, Error);
}

bool TMpdPlaylists::Delete(const QByteArray &Name, qsizetype From, qsizetype To, TError *Error) {
    auto Entries = Load(Name, Error);
    if (!Entries)
        return false;
    if (From < 0 || To <= From || To > Entries->size())
        return Fail(Error, 2, QStringLiteral("Bad song index"));
    Entries->remove(From, To - From);
    return Write(Name, *Entries, Error);
}

bool TMpdPlaylists::Clear(const QByteArray &Name, TError *Error) {
    return Check(Name, Error) && Write(Name, {}, Error);
}

bool TMpdPlaylists::Move(const QByteArray &Name, qsizetype From, qsizetype To, TError *Error) {
    auto Entries = Load(Name, Error);
    if (!Entries)
        return false;
    if (From < 0 || To < 0 || From >= Entries->size() || To >= Entries->size())
        return Fail(Error, 2, QStringLiteral("Bad song index"));
    Entries->move(From, To);
    return Write(Name, *Entries, Error);
}
