#include "ListJobQueue.h"

#include <algorithm>

qint64 ListJobBytes(const QByteArrayList &Lines) {
    // A block holds Qt's header, the text and its terminator, and the heap's size word,
    // rounded up to 16 bytes; a line without text has none.
    constexpr qint64 Header = 16, HeapWord = 8, Align = 16;
    qint64 Bytes = Lines.capacity() * qint64(sizeof(QByteArray));
    for (const QByteArray &Line : Lines)
        if (const qint64 Text = Line.capacity(); Text > 0)
            Bytes += (Header + Text + 1 + HeapWord + Align - 1) / Align * Align;
    return Bytes;
}

double TListJobQueue::Load(qsizetype Jobs, qint64 Bytes) {
    return std::max(double(Jobs) / double(MaxQueuedJobs),
                    double(Bytes) / double(MaxQueuedJobBytes));
}

void TListJobQueue::Account(const TListJob &Job, int Sign) {
    TShare &Share = FShares[Job.Sender];
    Share.Jobs += Sign;
    Share.Bytes += Sign * Job.Bytes;
    if (!Job.Sender.isEmpty()) {
        FControllerJobs += Sign;
        FControllerBytes += Sign * Job.Bytes;
    }
    if (Share.Jobs == 0) {
        FShares.remove(Job.Sender);
        FTurns.removeOne(Job.Sender);
    } else if (Sign > 0 && Share.Jobs == 1) {
        FTurns.append(Job.Sender);
    }
}

bool TListJobQueue::Add(TListJob Job) {
    if (!Job.Sender.isEmpty()) {
        if (Job.Bytes > MaxQueuedJobBytes)
            return false;
        const TShare Own = FShares.value(Job.Sender);
        const double OwnLoad = Load(Own.Jobs + 1, Own.Bytes + Job.Bytes);
        while (FControllerJobs + 1 > MaxQueuedJobs ||
               FControllerBytes + Job.Bytes > MaxQueuedJobBytes) {
            // Room comes from the largest other share, and only while it is larger than this
            // sender's would be.
            QByteArray Largest;
            double LargestLoad = -1;
            for (auto It = FShares.cbegin(); It != FShares.cend(); ++It) {
                if (It.key().isEmpty() || It.key() == Job.Sender)
                    continue;
                if (const double L = Load(It->Jobs, It->Bytes); L > LargestLoad) {
                    LargestLoad = L;
                    Largest = It.key();
                }
            }
            if (Largest.isEmpty() || LargestLoad <= OwnLoad)
                return false;
            DropNewest(Largest);
        }
    }
    Account(Job, +1);
    FJobs.push_back(std::move(Job));
    return true;
}

void TListJobQueue::DropNewest(const QByteArray &Sender) {
    for (auto It = FJobs.end(); It != FJobs.begin();) {
        --It;
        if (It->Sender == Sender) {
            const TListJob Job = std::move(*It);
            FJobs.erase(It);
            Account(Job, -1);
            return;
        }
    }
}

std::optional<TListJob> TListJobQueue::Take() {
    if (FTurns.isEmpty())
        return std::nullopt;
    const QByteArray Sender = FTurns.takeFirst();
    const auto It = std::find_if(FJobs.begin(), FJobs.end(),
                                 [&Sender](const TListJob &Job) { return Job.Sender == Sender; });
    if (It == FJobs.end())
        return std::nullopt; // cannot happen: a sender has a turn only while it has jobs
    TListJob Job = std::move(*It);
    FJobs.erase(It);
    // Back of the line when more of its jobs wait (Account drops it when none do).
    FTurns.append(Sender);
    Account(Job, -1);
    return Job;
}
