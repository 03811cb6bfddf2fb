#pragma once

#include "CoverPicture.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QThreadPool>

#include <condition_variable>
#include <functional>
#include <mutex>

// Makes covers' thumbnails on a pool of its own, for the store on the GUI thread and the web
// remote's threads alike: each thumbnail once, however many ask while it is made.
class TCoverMaker final : public TThumbnailSource {
public:
    // Called on a pool thread when a thumbnail is made (Made) or cannot be.
    using TDone = std::function<void(const QByteArray &Hash, int Size, bool Made)>;

    TCoverMaker(const QString &Folder, const QString &ScanProgram);
    ~TCoverMaker() override;

    void SetDone(TDone Done);
    void Learn(const QByteArray &Hash, const QByteArray &TrackPath, TCoverSource Where);
    bool IsKnown(const QByteArray &Hash) const override;
    QString FileName(const QByteArray &Hash, int Size) const;
    // Made, Failed, Unknown, or Busy: being made now (started by this call or before).
    TResult Start(const QByteArray &Hash, int Size);
    // Nothing more is made or known; waits for what is being made.
    void Close();

    TResult Thumbnail(const QByteArray &Hash, int Size, int WaitMs, QByteArray &Jpeg) override;

private:
    struct TSource {
        QByteArray Path;
        TCoverSource Where;
    };

    TResult StateOf(const QByteArray &Key, const QByteArray &Hash, int Size) const;
    void Make(const QByteArray &Hash, int Size);
    QByteArray Picture(const TSource &Source) const;

    const QString FFolder;
    const QString FScanProgram;
    mutable std::mutex FLock; // guards what follows
    std::condition_variable FChanged;
    bool FClosed = false;
    TDone FDone;
    QHash<QByteArray, TSource> FSources;
    // By "<hash>-<size>": made (known to be on disk), failed, or being made.
    QHash<QByteArray, TResult> FStates;
    // Last: it ends first, while the rest is still there for the work it waits for.
    QThreadPool FPool;
};
