#include "TagScanner.h"

#include "ScanProtocol.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace {

// Requests a process holds at once, so that it never waits for the next path.
constexpr int Window = 16;
// A program that ends this many times in a row before it greets is not going to run.
constexpr int MaxStartFailures = 3;

} // namespace

struct TTagScanner::TWorker {
    QProcess *Process = nullptr;
    QTimer Timer;
    TFrameReader Reader;
    QList<TTagRequest> InFlight;
    // What to hand on for the first file in flight should its read never end.
    TFileTags Fallback;
    bool Greeted = false;
};

TTagScanner::TTagScanner(const QString &Program, QObject *Parent)
    : QObject(Parent), FProgram(Program), FProcessCount(qBound(1, QThread::idealThreadCount(), 4)) {
    FBatchTimer.setSingleShot(true);
    FBatchTimer.setInterval(100);
    connect(&FBatchTimer, &QTimer::timeout, this, &TTagScanner::Flush);
}

TTagScanner::~TTagScanner() {
    for (QProcess *P : findChildren<QProcess *>()) {
        P->disconnect(this);
        P->kill();
        P->waitForFinished(1000);
    }
}

QString TTagScanner::DefaultProgram() {
    const QString Dir = QCoreApplication::applicationDirPath();
    const QStringList Candidates{Dir + QStringLiteral("/vxTagScan"),
                                 Dir + QStringLiteral("/headless/vxTagScan"),
                                 Dir + QStringLiteral("/../lib/vellox-player/vxTagScan")};
    for (const QString &Candidate : Candidates)
        if (QFileInfo(Candidate).isExecutable())
            return Candidate;
    return Candidates.front();
}

void TTagScanner::SetBatching(int Size, int DelayMs) {
    FBatchSize = qMax(1, Size);
    FBatchTimer.setInterval(DelayMs);
}

void TTagScanner::Scan(const QList<TTagRequest> &Files) {
    if (Files.isEmpty())
        return;
    FQueue += Files;
    FActive = true;
    while (int(FWorkers.size()) < FProcessCount) {
        auto W = std::make_unique<TWorker>();
        TWorker *Raw = W.get();
        Raw->Timer.setSingleShot(true);
        connect(&Raw->Timer, &QTimer::timeout, this, [this, Raw] { Abandon(Raw); });
        FWorkers.push_back(std::move(W));
    }
    Dispatch();
}

void TTagScanner::Stop() {
    FQueue.clear();
    for (const auto &W : FWorkers) {
        W->InFlight.clear();
        EndProcess(W.get());
    }
    FBatch.clear();
    FBatchTimer.stop();
    FActive = false;
}

int TTagScanner::Pending() const {
    qsizetype N = FQueue.size() + FBatch.size();
    for (const auto &W : FWorkers)
        N += W->InFlight.size();
    return int(N);
}

void TTagScanner::Dispatch() {
    for (int I = 0; I < int(FWorkers.size()) && !FQueue.isEmpty(); ++I) {
        TWorker *W = FWorkers[size_t(I)].get();
        if (!W->Process && I < FProcessCount)
            StartWorker(W);
        else if (W->Process && W->Greeted)
            Feed(W);
    }
}

void TTagScanner::StartWorker(TWorker *W) {
    W->Process = new QProcess(this);
    W->Reader = TFrameReader();
    W->Greeted = false;
    QProcess *P = W->Process;
    // TagLib's complaints about damaged files are of no use to anyone here.
    P->setStandardErrorFile(QProcess::nullDevice());
    connect(P, &QProcess::readyReadStandardOutput, this, [this, W] { ReadFrom(W); });
    connect(P, &QProcess::finished, this, [this, W] {
        // Answers written before the end still count.
        ReadFrom(W);
        Abandon(W);
    });
    connect(P, &QProcess::errorOccurred, this, [this, W](QProcess::ProcessError Error) {
        if (Error == QProcess::FailedToStart)
            Abandon(W);
    });
    // The hello must come within the time-out too.
    W->Timer.start(FFileTimeout);
    P->start(FProgram, {});
}

void TTagScanner::Feed(TWorker *W) {
    if (!W->Process || W->Process->state() != QProcess::Running)
        return;
    QByteArray Requests;
    while (W->InFlight.size() < Window && !FQueue.isEmpty()) {
        const TTagRequest Request = FQueue.takeFirst();
        Requests += RequestFrame(Request.Path, Request.Known);
        W->InFlight.append(Request);
    }
    // Taken from the front, the queue keeps the whole scan's room otherwise.
    if (FQueue.isEmpty())
        FQueue = {};
    if (Requests.isEmpty())
        return;
    W->Process->write(Requests);
    if (!W->Timer.isActive())
        W->Timer.start(FFileTimeout);
}

void TTagScanner::ReadFrom(TWorker *W) {
    if (!W->Process)
        return;
    W->Reader.Append(W->Process->readAllStandardOutput());
    QByteArray Frame;
    TScanFrame Kind;
    TFileTags Entry;
    while (W->Reader.Next(Frame)) {
        if (!W->Greeted) {
            if (!IsHello(Frame))
                return Abandon(W);
            W->Greeted = true;
            FStartFailures = 0;
            W->Timer.stop();
            Feed(W);
            continue;
        }
        // The process may be in any state: its answer must be one, for the file asked about.
        if (W->InFlight.isEmpty() || !ParseReply(Frame, Kind, Entry) ||
            Entry.Path != W->InFlight.front().Path)
            return Abandon(W);
        if (Kind == TScanFrame::Begin) {
            W->Fallback = {Entry.Path, Entry.Stamp, TTagStatus::Unreadable, {}};
            continue;
        }
        W->InFlight.removeFirst();
        W->Fallback = {};
        W->Timer.start(FFileTimeout);
        Deliver(Entry);
        if (!W->Process) // stopped by whoever took the batch
            return;
    }
    if (W->Reader.Failed())
        return Abandon(W);
    if (W->InFlight.isEmpty())
        W->Timer.stop();
    Feed(W);
    CheckFinished();
}

void TTagScanner::Abandon(TWorker *W) {
    if (!W->Process)
        return;
    const bool Greeted = W->Greeted;
    EndProcess(W);
    if (!Greeted) {
        FQueue = W->InFlight + FQueue;
        W->InFlight.clear();
        if (++FStartFailures >= MaxStartFailures) {
            const QString Reason = QStringLiteral("The tag reader %1 does not run.").arg(FProgram);
            Stop();
            Q_EMIT Failed(Reason);
            return;
        }
    } else if (!W->InFlight.isEmpty()) {
        const TTagRequest Head = W->InFlight.takeFirst();
        Deliver(W->Fallback.Path == Head.Path
                    ? W->Fallback
                    : TFileTags{Head.Path, {}, TTagStatus::Unreadable, {}});
        FQueue = W->InFlight + FQueue;
        W->InFlight.clear();
    }
    W->Fallback = {};
    Dispatch();
    CheckFinished();
}

void TTagScanner::EndProcess(TWorker *W) {
    W->Timer.stop();
    QProcess *P = W->Process;
    W->Process = nullptr;
    if (!P)
        return;
    P->disconnect(this);
    if (P->state() == QProcess::NotRunning) {
        P->deleteLater();
        return;
    }
    // Freed once it has gone; never waited for here (a read stuck in the kernel can outlast
    // a kill for a while).
    connect(P, &QProcess::finished, P, &QObject::deleteLater);
    P->kill();
}

void TTagScanner::Deliver(const TFileTags &Entry) {
    FBatch.append(Entry);
    if (FBatch.size() >= FBatchSize)
        Flush();
    else if (!FBatchTimer.isActive())
        FBatchTimer.start();
}

void TTagScanner::Flush() {
    FBatchTimer.stop();
    if (FBatch.isEmpty())
        return;
    const QList<TFileTags> Batch = std::exchange(FBatch, {});
    Q_EMIT TagsRead(Batch);
}

void TTagScanner::CheckFinished() {
    if (!FActive || !FQueue.isEmpty())
        return;
    for (const auto &W : FWorkers)
        if (!W->InFlight.isEmpty())
            return;
    FActive = false;
    for (const auto &W : FWorkers)
        EndProcess(W.get());
    Flush();
    Q_EMIT Finished();
}
