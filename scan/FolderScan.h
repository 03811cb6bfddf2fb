#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

// Finds the audio files under folders off the GUI thread (a TFolderWalk) and hands them over in
// slices, one per turn of the event loop, so that a folder of 100000 files shows rows as they
// are found and never holds up the window. One walk at a time; folders asked for meanwhile are
// walked next.
class TFolderScan : public QObject {
    Q_OBJECT
public:
    explicit TFolderScan(QObject *Parent = nullptr);
    // Stops the walk and waits for its thread.
    ~TFolderScan() override;

    // Walks Roots (after the walks already asked for).
    void Start(const QByteArrayList &Roots);
    // Ends the walk now and forgets those asked for; Finished(true) follows.
    void Cancel();
    bool Running() const { return FRunning; }
    // Longest time (ms) files found are held before they are handed over.
    void SetBatchDelay(int Ms) { FBatchMs = Ms; }

    // Most paths one Found hands over.
    static constexpr int SliceSize = 1024;

Q_SIGNALS:
    // Audio files found, in path order within a walk; at most SliceSize a turn.
    void Found(const QByteArrayList &Paths);
    // Files and folders found so far in this walk.
    void Progress(int Files, int Folders);
    // A walk ended (Cancelled: by Cancel); Folders: every folder it went into.
    void Finished(bool Cancelled, const QByteArrayList &Folders);

private:
    void RunNext();
    void Join();
    // Emits the next slice; the walk's end once all are out.
    void HandOver();
    void Finish();

    QList<QByteArrayList> FQueue;
    bool FRunning = false;
    int FBatchMs = 150;
    std::shared_ptr<std::atomic<bool>> FCancel;
    std::thread FThread;
    // Found by the walk, not yet handed over: FPending from FTaken on.
    QByteArrayList FPending;
    qsizetype FTaken = 0;
    QTimer FSlicer;
    // The walk's thread is done; Finished waits for the last slice.
    bool FWalkEnded = false;
    QByteArrayList FWalkFolders;
};
