#include "MusicLibrary.h"

#include "AsciiText.h"
#include "AudioTypes.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>

namespace {

bool PathExists(const QByteArray &Path) {
    struct stat Info {};
    return lstat(Path.constData(), &Info) == 0;
}

// The entry of Folder whose name Qt reads as Name, or empty.
QByteArray EntryReadAs(const QByteArray &Folder, const QString &Name) {
    QByteArray Found;
    DIR *Dir = opendir(Folder.isEmpty() ? "/" : Folder.constData());
    if (!Dir)
        return Found;
    while (const dirent *Entry = readdir(Dir)) {
        if (QFile::decodeName(Entry->d_name) == Name) {
            Found = Entry->d_name;
            break;
        }
    }
    closedir(Dir);
    return Found;
}

// Path's parts that Qt could not hold (U+FFFD) replaced by the entries they stand for.
QByteArray RecoverPath(const QByteArray &Path) {
    if (!Path.startsWith('/') || Path.contains('\0') || PathExists(Path))
        return Path;
    QByteArray Result;
    for (const QByteArray &Part : Path.split('/')) {
        if (Part.isEmpty())
            continue;
        QByteArray Next = Result + '/' + Part;
        if (!PathExists(Next))
            if (const QByteArray Entry = EntryReadAs(Result, QFile::decodeName(Part));
                !Entry.isEmpty())
                Next = Result + '/' + Entry;
        Result = Next;
    }
    return PathExists(Result) ? Result : Path;
}

} // namespace

QString RefusalNote(const QList<TRefusedSource> &All) {
    // A long list is cut: the box must fit the screen.
    constexpr qsizetype Listed = 12;
    // A source already there, or a blank one, is dropped without a word.
    QList<TRefusedSource> Refused = All;
    Refused.removeIf([](const TRefusedSource &R) {
        return R.Why == TRefusal::Duplicate || R.Why == TRefusal::Blank || R.Why == TRefusal::None;
    });
    if (Refused.isEmpty())
        return {};
    QStringList Lines;
    Lines.append(Refused.size() == 1 ? QStringLiteral("1 item was not added to the music library:")
                                     : QStringLiteral("%1 items were not added to the music "
                                                      "library:")
                                           .arg(Refused.size()));
    for (qsizetype I = 0; I < Refused.size() && I < Listed; ++I) {
        const TRefusedSource &R = Refused[I];
        const QByteArray Name = TMusicLibrary::DisplayName(R.Source);
        QString Why;
        switch (R.Why) {
        case TRefusal::NotAudio: {
            const QByteArray Ext = FileExtension(Name);
            Why = Ext.size() < 2 ? QStringLiteral("no audio file type in its name")
                                 : QStringLiteral("\"%1\" is not an audio file type")
                                       .arg(QString::fromUtf8(Ext));
            break;
        }
        case TRefusal::Unusable:
            Why = QStringLiteral("its name holds a line break");
            break;
        default:
            break;
        }
        const QByteArray Shown = Name.isEmpty() ? R.Source : Name;
        Lines.append(QStringLiteral("%1: %2").arg(QString::fromUtf8(Shown).simplified(), Why));
    }
    if (Refused.size() > Listed)
        Lines.append(QStringLiteral("and %1 more.").arg(Refused.size() - Listed));
    return Lines.join(u'\n');
}

TMusicLibrary::TMusicLibrary(QObject *Parent)
    : QAbstractListModel(Parent), FSnapshot(std::make_shared<QByteArrayList>()) {}

QByteArray TMusicLibrary::DisplayName(const QByteArray &Source) {
    if (StartsWithAscii(Source, "http://"))
        return DocumentName(Source);
    return FileNamePart(Source);
}

QByteArray TMusicLibrary::LocalSource(const QUrl &Url) {
    // The encoded path keeps every byte; QUrl's decoded forms would not.
    return RecoverPath(QByteArray::fromPercentEncoding(Url.path(QUrl::FullyEncoded).toLatin1()));
}

bool TMusicLibrary::LoadFromFile(const QString &Path, QString *Error) {
    QByteArray Text;
    bool Ok = true;
    FUnreadFile.clear();
    if (QFile::exists(Path)) {
        QFile File(Path);
        if (File.open(QIODevice::ReadOnly)) {
            Text = File.readAll();
            if (File.error() != QFileDevice::NoError)
                Ok = false;
        } else {
            Ok = false;
        }
        if (!Ok) {
            FUnreadFile = Path;
            Text.clear();
            if (Error)
                *Error = FileError("Cannot open file", Path, File.errorString());
        }
    }
    LoadFromText(std::move(Text));
    return Ok;
}

void TMusicLibrary::LoadFromText(QByteArray Text) {
    const qsizetype Nul = Text.indexOf('\0');
    if (Nul >= 0)
        Text.truncate(Nul);

    beginResetModel();
    FLibrary = SplitLines(Text);
    FRows.clear();
    FRows.reserve(FLibrary.size());
    FKeys.clear();
    FKeys.reserve(FLibrary.size());
    for (const QByteArray &Source : std::as_const(FLibrary)) {
        FRows.append({DisplayName(Source), Source});
        IndexAdd(Source);
    }
    endResetModel();
    Publish();
}

bool TMusicLibrary::SaveToFile(const QString &Path, QString *Error) {
    if (!FUnreadFile.isEmpty() && FUnreadFile == Path && QFileInfo::exists(Path)) {
        // An earlier rescue is never replaced: the next free name is taken. rename()
        // refuses a name that exists.
        const QString Aside = Path + QStringLiteral(".unreadable");
        bool Moved = false;
        for (int N = 1; N <= 1000 && !Moved; ++N)
            Moved = QFile::rename(Path, N == 1 ? Aside : Aside + '.' + QString::number(N));
        if (!Moved) {
            if (Error)
                *Error = FileError("Cannot create file", Path,
                                   QStringLiteral("The unreadable file could not be moved aside."));
            return false;
        }
    }
    FUnreadFile.clear();
    const QByteArray Text = FileText();
    QSaveFile File(Path);
    if (File.open(QIODevice::WriteOnly) && File.write(Text) == Text.size() && File.commit())
        return true;
    if (Error)
        *Error = FileError("Cannot create file", Path, File.errorString());
    File.cancelWriting();
    return false;
}

QByteArray TMusicLibrary::FileText() const {
    QByteArray Text;
    qsizetype Size = 0;
    for (const TLibraryEntry &Entry : FRows)
        Size += Entry.Source.size() + 2;
    Text.reserve(Size);
    for (const TLibraryEntry &Entry : FRows) {
        Text.append(Entry.Source);
        Text.append("\r\n");
    }
    return Text;
}

TRefusal TMusicLibrary::Accept(const QByteArray &Source, QByteArray &Name) {
    // Such a name would come back from the file as other lines, or cut short.
    for (const char Bad : {'\r', '\n', '\0'})
        if (Source.contains(Bad))
            return TRefusal::Unusable;
    Name = DisplayName(Source);
    if (TrimBlanks(Source).isEmpty())
        return TRefusal::Blank;
    if (!IsAcceptedAudioName(Name))
        return TRefusal::NotAudio;
    // The same rule as AddUniqueString, with a hash index instead of a walk over
    // FLibrary, so that large batches stay linear.
    if (FKeys.contains(AsciiUpper(Source)))
        return TRefusal::Duplicate;
    FLibrary.append(Source);
    IndexAdd(Source);
    return TRefusal::None;
}

bool TMusicLibrary::AddToLibrary(const QByteArray &Source) {
    return AddBatch(QByteArrayList{Source}) == 1;
}

int TMusicLibrary::AddBatch(const QByteArrayList &Sources, QList<TRefusedSource> *Refused) {
    QList<TLibraryEntry> Added;
    Added.reserve(Sources.size());
    QByteArray Name;
    for (const QByteArray &Source : Sources) {
        const TRefusal Why = Accept(Source, Name);
        if (Why == TRefusal::None)
            Added.append({Name, Source});
        else if (Refused)
            Refused->append({Source, Why});
    }
    if (Added.isEmpty())
        return 0;
    // One insertion for the whole batch, so that a view draws it at once.
    beginInsertRows(QModelIndex(), Count(), Count() + int(Added.size()) - 1);
    FRows.append(Added);
    endInsertRows();
    Publish(true);
    return int(Added.size());
}

void TMusicLibrary::RemoveRow(int Row) {
    RemoveRows({Row});
}

void TMusicLibrary::RemoveRows(const QList<int> &Rows) {
    QList<int> Sorted;
    for (int Row : Rows)
        if (Row >= 0 && Row < Count())
            Sorted.append(Row);
    std::sort(Sorted.begin(), Sorted.end());
    Sorted.erase(std::unique(Sorted.begin(), Sorted.end()), Sorted.end());
    if (Sorted.isEmpty())
        return;

    // Removing rows one by one deletes, per row, the first FLibrary string equal
    // to its source ignoring case; one pass that drops the first N strings of
    // each key does the same without rescanning the list for every row.
    QHash<QByteArray, int> Pending;
    for (int Row : Sorted)
        ++Pending[AsciiUpper(FRows.at(Row).Source)];
    QByteArrayList Kept;
    Kept.reserve(FLibrary.size());
    for (const QByteArray &Source : std::as_const(FLibrary)) {
        auto It = Pending.find(AsciiUpper(Source));
        if (It != Pending.end() && It.value() > 0) {
            --It.value();
            IndexRemove(Source);
        } else {
            Kept.append(Source);
        }
    }
    FLibrary = std::move(Kept);

    int Blocks = 1;
    for (qsizetype K = 1; K < Sorted.size(); ++K)
        Blocks += Sorted[K] != Sorted[K - 1] + 1 ? 1 : 0;
    if (Blocks > 64) {
        // Scattered rows: one pass and a reset, not one list shift per row.
        beginResetModel();
        QList<TLibraryEntry> KeptRows;
        KeptRows.reserve(FRows.size() - Sorted.size());
        qsizetype Next = 0;
        for (int Row = 0; Row < Count(); ++Row) {
            if (Next < Sorted.size() && Sorted[Next] == Row)
                ++Next;
            else
                KeptRows.append(FRows.at(Row));
        }
        FRows = std::move(KeptRows);
        endResetModel();
    } else {
        // Bottom-up in contiguous blocks, so that views keep their selection.
        int I = int(Sorted.size()) - 1;
        while (I >= 0) {
            int First = I;
            while (First > 0 && Sorted[First - 1] == Sorted[First] - 1)
                --First;
            beginRemoveRows(QModelIndex(), Sorted[First], Sorted[I]);
            FRows.remove(Sorted[First], Sorted[I] - Sorted[First] + 1);
            endRemoveRows();
            I = First - 1;
        }
    }
    Publish();
}

TLibraryEntry TMusicLibrary::TakeRow(int Row) {
    if (Row < 0 || Row >= Count())
        return {};
    beginRemoveRows(QModelIndex(), Row, Row);
    TLibraryEntry Entry = FRows.takeAt(Row);
    endRemoveRows();
    return Entry;
}

void TMusicLibrary::InsertRow(int Row, const TLibraryEntry &Entry) {
    Row = std::clamp(Row, 0, Count());
    beginInsertRows(QModelIndex(), Row, Row);
    FRows.insert(Row, Entry);
    endInsertRows();
}

bool TMusicLibrary::SetRowOrder(const QList<int> &Order) {
    if (Order.size() != FRows.size())
        return false;
    QList<bool> Seen(Order.size(), false);
    for (int From : Order) {
        if (From < 0 || From >= Count() || Seen[From])
            return false;
        Seen[From] = true;
    }
    Q_EMIT layoutAboutToBeChanged();
    const QModelIndexList OldIndexes = persistentIndexList();
    QList<TLibraryEntry> NewRows;
    NewRows.reserve(FRows.size());
    QList<int> NewRowOf(Order.size());
    for (int I = 0; I < Order.size(); ++I) {
        NewRows.append(FRows.at(Order[I]));
        NewRowOf[Order[I]] = I;
    }
    FRows = std::move(NewRows);
    QModelIndexList NewIndexes;
    NewIndexes.reserve(OldIndexes.size());
    for (const QModelIndex &Old : OldIndexes)
        NewIndexes.append(index(NewRowOf.at(Old.row()), Old.column()));
    changePersistentIndexList(OldIndexes, NewIndexes);
    Q_EMIT layoutChanged();
    return true;
}

QByteArrayList TMusicLibrary::RowSources() const {
    QByteArrayList Sources;
    Sources.reserve(FRows.size());
    for (const TLibraryEntry &Entry : FRows)
        Sources.append(Entry.Source);
    return Sources;
}

std::shared_ptr<const QByteArrayList> TMusicLibrary::Snapshot() const {
    std::lock_guard Lock(FSnapshotLock);
    return FSnapshot;
}

void TMusicLibrary::Publish(bool Appended) {
    std::shared_ptr<QByteArrayList> Old; // let go once the lock is
    std::lock_guard Lock(FSnapshotLock);
    // Readers copy the pointer under the lock: held by none but this, the list can take the
    // sources added in place, not a copy of the whole library per batch of a folder's walk.
    if (Appended && FSnapshot.use_count() == 1 && FSnapshot->size() <= FLibrary.size()) {
        std::atomic_thread_fence(std::memory_order_acquire); // the last reader is done
        FSnapshot->append(FLibrary.sliced(FSnapshot->size()));
        return;
    }
    // A list of its own: sharing FLibrary's would make its next append copy it.
    Old = std::exchange(FSnapshot,
                        std::make_shared<QByteArrayList>(FLibrary.cbegin(), FLibrary.cend()));
}

void TMusicLibrary::IndexAdd(const QByteArray &Source) {
    ++FKeys[AsciiUpper(Source)];
}

void TMusicLibrary::IndexRemove(const QByteArray &Source) {
    auto It = FKeys.find(AsciiUpper(Source));
    if (It != FKeys.end() && --It.value() <= 0)
        FKeys.erase(It);
}

int TMusicLibrary::rowCount(const QModelIndex &Parent) const {
    return Parent.isValid() ? 0 : Count();
}

QVariant TMusicLibrary::data(const QModelIndex &Index, int Role) const {
    if (!Index.isValid() || Index.row() >= Count())
        return {};
    const TLibraryEntry &Entry = FRows.at(Index.row());
    switch (Role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return Role == Qt::DisplayRole ? QString::fromUtf8(Entry.Name)
                                       : QString::fromUtf8(Entry.Source);
    case SourceRole:
        return Entry.Source;
    default:
        return {};
    }
}

QHash<int, QByteArray> TMusicLibrary::roleNames() const {
    auto Names = QAbstractListModel::roleNames();
    Names.insert(SourceRole, "source");
    return Names;
}
