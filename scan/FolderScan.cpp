#include "FolderScan.h"

#include "FolderWalk.h"

#include <QElapsedTimer>
#include <QPointer>

namespace {
// Paths taken from the walk between looks at the clock and the cancel flag.
constexpr int Step = 256;
// At most this many paths a batch: the window adds a batch in one go.
constexpr int MaxBatch = 8192;
} // namespace

TFolderScan::TFolderScan(QObject *Parent) : QObject(Parent) {}

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
    if (FCancel)
        *FCancel = true;
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
            QMetaObject::invokeMethod(this, [this, Batch, Files, Folders = Walk.Folders()] {
                if (!Batch.isEmpty())
                    Q_EMIT Found(Batch);
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
        QMetaObject::invokeMethod(this, [this, Cancel, Folders = Walk.FoldersSeen()] {
            const bool Cancelled = *Cancel;
            RunNext(); // Running() says whether more walks follow
            Q_EMIT Finished(Cancelled, Folders);
        });
    });
}
