#pragma once

#include "FileTags.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QProcess;

// A file to read, and the stamp its known tags were read with (invalid when none): a file that
// still has that stamp is answered Unchanged without being read.
struct TTagRequest {
    QByteArray Path;
    TFileStamp Known;
};

// Reads tags in scanner processes of our own (vxTagScan), several at once, so that a file that
// crashes or hangs the tag library costs that file only: a file that takes longer than the
// time-out ends its process, a process that dies takes the file it was reading with it; either
// way the file is handed on as Unreadable and the others go to a new process. Lives on the GUI
// thread and never waits for a process; results are handed on in batches.
class TTagScanner : public QObject {
    Q_OBJECT
public:
    explicit TTagScanner(const QString &Program = DefaultProgram(), QObject *Parent = nullptr);
    ~TTagScanner() override;

    // The scanner program beside this one (build folder or installed layout).
    static QString DefaultProgram();

    // How many processes read at once; takes effect when a scan starts.
    void SetProcessCount(int Count) { FProcessCount = qMax(1, Count); }
    // How long one file may take.
    void SetFileTimeout(int Ms) { FFileTimeout = Ms; }
    // Results are handed on once Size are ready, or DelayMs after the first of them.
    void SetBatching(int Size, int DelayMs);

    // Adds files to read after those already waiting.
    void Scan(const QList<TTagRequest> &Files);
    // Drops every waiting file and ends the processes; nothing more is handed on.
    void Stop();
    // Files asked for and not handed on yet.
    int Pending() const;

Q_SIGNALS:
    // Results in the order they came; each asked-for file comes once.
    void TagsRead(const QList<TFileTags> &Batch);
    // Every file asked for has been handed on; the processes have been ended.
    void Finished();
    // The scanner program does not run; the waiting files were dropped.
    void Failed(const QString &Reason);

private:
    struct TWorker;

    void Dispatch();
    void StartWorker(TWorker *W);
    void Feed(TWorker *W);
    void ReadFrom(TWorker *W);
    // Ends W's process after a fault; the file it was reading is Unreadable, the rest wait again.
    void Abandon(TWorker *W);
    void EndProcess(TWorker *W);
    void Deliver(const TFileTags &Entry);
    void Flush();
    void CheckFinished();

    QString FProgram;
    int FProcessCount;
    int FFileTimeout = 15000;
    int FBatchSize = 500;
    std::vector<std::unique_ptr<TWorker>> FWorkers;
    QList<TTagRequest> FQueue;
    QList<TFileTags> FBatch;
    QTimer FBatchTimer;
    // Processes in a row that ended before they greeted: the program itself does not run.
    int FStartFailures = 0;
    bool FActive = false;
};
