#include "FolderScan.h"

#include "FolderWalk.h"

#include <QElapsedTimer>
#include <QPointer>

#include <algorithm>
#include <utility>

namespace {
// Paths taken from the walk between looks at the clock and the cancel flag.
constexpr int Step = 256;
// At most this many paths a batch from the walk's thread.
constexpr int MaxBatch = 8192;
} // namespace

TFolderScan::TFolderScan(QObject *Parent) : QObject(Parent) {
    // A zero timer: the window paints and answers between two slices.
    FSlicer.setSingleShot(true);
    FSlicer.setInterval(0);
    connect(&FSlicer, &QTimer::timeout, this, &TFolderScan::HandOver);
}

TFolderScan::~TFolderScan() {
    if (FCancel)
        *FCancel = true;
    Join();
}

void TFolderScan::Join() {
    if (FThread.joinable())
        FThread.join();
}

void TFolderScan::Start(const QByteArrayList &Roots) {
    FQueue.append(Roots);
    if (!FRunning)
        RunNext();
}

void TFolderScan::Cancel() {
    FQueue.clear();
    FPending.clear();
    FTaken = 0;
    if (FCancel)
        *FCancel = true;
    if (FWalkEnded)
        FSlicer.start();
}

void TFolderScan::HandOver() {
    if (FTaken < FPending.size()) {
        const qsizetype Count = std::min<qsizetype>(SliceSize, FPending.size() - FTaken);
        const QByteArrayList Slice = FPending.mid(FTaken, Count);
        FTaken += Count;
        if (FTaken == FPending.size()) {
            FPending.clear();
            FTaken = 0;
        }
        Q_EMIT Found(Slice); // may cancel or ask for more walks
    }
    if (FTaken < FPending.size())
        FSlicer.start();
    else if (FWalkEnded)
        Finish();
}

void TFolderScan::Finish() {
    FWalkEnded = false;
    const bool Cancelled = *FCancel;
    const QByteArrayList Folders = std::exchange(FWalkFolders, {});
    RunNext(); // Running() says whether more walks follow
    Q_EMIT Finished(Cancelled, Folders);
}

void TFolderScan::RunNext() {
    Join();
    if (FQueue.isEmpty()) {
        FRunning = false;
        return;
    }
    FRunning = true;
    FCancel = std::make_shared<std::atomic<bool>>(false);
    // The thread reports through queued calls; the flag outlives this object's wait.
    FThread = std::thread([this, Roots = FQueue.takeFirst(), Cancel = FCancel, Ms = FBatchMs] {
        TFolderWalk Walk(Roots);
        QByteArrayList Batch;
        int Files = 0;
        QElapsedTimer Since;
        Since.start();
        const auto Hand = [&] {
            QMetaObject::invokeMethod(this, [this, Batch, Files, Folders = Walk.Folders(), Cancel] {
                if (*Cancel)
                    return; // its files are forgotten
                FPending += Batch;
                if (!FSlicer.isActive())
                    FSlicer.start();
                Q_EMIT Progress(Files, Folders);
            });
            Batch.clear();
            Since.restart();
        };
        while (!Walk.Done() && !*Cancel) {
            const QByteArrayList More = Walk.Next(Step);
            Files += int(More.size());
            Batch += More;
            if (Since.elapsed() >= Ms || Batch.size() >= MaxBatch)
                Hand();
        }
        if (!*Cancel)
            Hand();
        QMetaObject::invokeMethod(this, [this, Folders = Walk.FoldersSeen()] {
            FWalkEnded = true;
            FWalkFolders = Folders;
            if (!FSlicer.isActive())
                HandOver();
        });
    });
}
