#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>

// One row of the library view: what it shows and the source it stands for.
struct TLibraryEntry {
    QByteArray Name;
    QByteArray Source;
};

// Why a source was not added.
enum class TRefusal : quint8 {
    None,
    NotAudio,  // its name has no accepted audio extension
    Unusable,  // it holds CR, LF or NUL: it cannot be a line of the file
    Blank,     // nothing but blanks
    Duplicate, // the library has it already (A-Z case ignored)
};

struct TRefusedSource {
    QByteArray Source;
    TRefusal Why = TRefusal::None;
};

// What the user is told about refused sources: which, and why; empty when none is worth a
// word (a duplicate or a blank one is not).
QString RefusalNote(const QList<TRefusedSource> &Refused);

// The controller's music library: FLibrary (sources in load/add order, used for
// the duplicate test and by the media server) and the rows in display order,
// which is also the order the file is saved in. Lives on the GUI thread; other
// threads only read Snapshot().
class TMusicLibrary : public QAbstractListModel {
    Q_OBJECT
public:
    enum TRole { SourceRole = Qt::UserRole + 1 };

    explicit TMusicLibrary(QObject *Parent = nullptr);

    // Replaces everything with the lines of Path. A missing file gives an empty
    // library and true; an unreadable one an empty library, false and *Error.
    bool LoadFromFile(const QString &Path, QString *Error = nullptr);
    // Replaces everything with the lines of Text, read as the library file is.
    void LoadFromText(QByteArray Text);
    // Writes FileText(); the old file stays untouched when this fails (false and
    // *Error). A file that could not be loaded is kept as Path + ".unreadable"
    // (".unreadable.2", ... when that is taken) instead of being overwritten.
    bool SaveToFile(const QString &Path, QString *Error = nullptr);
    // The rows' sources, top to bottom, each ending in CR LF.
    QByteArray FileText() const;

    // Appends Source when its name is an accepted audio name and it is new
    // (A-Z case ignored, not blank) and it can be a line of the file (no CR, LF
    // or NUL); refusals are silent. True when appended.
    bool AddToLibrary(const QByteArray &Source);
    // AddToLibrary for each source in order, published to readers once;
    // returns how many were appended. Refused (when given) gets the others, in order.
    int AddBatch(const QByteArrayList &Sources, QList<TRefusedSource> *Refused = nullptr);

    // Removes the row and the first FLibrary string equal to its source ignoring case.
    void RemoveRow(int Row);
    // RemoveRow for several rows (any order, duplicates ignored), published once.
    void RemoveRows(const QList<int> &Rows);

    // Row order only; FLibrary keeps its order.
    TLibraryEntry TakeRow(int Row);
    void InsertRow(int Row, const TLibraryEntry &Entry);
    // New row I is old row Order[I]; Order must be a permutation of the rows.
    bool SetRowOrder(const QList<int> &Order);

    int Count() const { return int(FRows.size()); }
    const TLibraryEntry &Row(int Row) const { return FRows.at(Row); }
    const QList<TLibraryEntry> &Rows() const { return FRows; }
    QByteArrayList RowSources() const;
    const QByteArrayList &Library() const { return FLibrary; }

    // The FLibrary list as it stood after the last complete change; any thread.
    std::shared_ptr<const QByteArrayList> Snapshot() const;

    // The name a row shows for Source: DocumentName for http URLs, else the file name.
    static QByteArray DisplayName(const QByteArray &Source);
    // The source for a local file URL (a drop, a file dialog): the path's bytes as the
    // file system has them. Qt turns a name that is not valid UTF-8 into U+FFFD; when
    // the path does not exist, each such part is looked up in its folder by that form.
    static QByteArray LocalSource(const QUrl &Url);

    int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &Index, int Role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    // Type and duplicate test; on success the source is in FLibrary, not yet a row.
    TRefusal Accept(const QByteArray &Source, QByteArray &Name);
    // Appended: FLibrary only grew since the last call.
    void Publish(bool Appended = false);
    void IndexAdd(const QByteArray &Source);
    void IndexRemove(const QByteArray &Source);

    QByteArrayList FLibrary;
    QList<TLibraryEntry> FRows;
    // ASCII-upper-cased FLibrary strings with their counts: the duplicate test
    // without a walk over the whole list (loaded files may repeat a source).
    QHash<QByteArray, int> FKeys;

    // A library file that exists but could not be read: it is moved aside, not
    // overwritten, by the first save, so the entries it holds are not lost.
    QString FUnreadFile;

    // Guards FSnapshot: the GUI thread swaps or extends it, the media server's threads read it.
    mutable std::mutex FSnapshotLock;
    std::shared_ptr<QByteArrayList> FSnapshot;
};
