#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

// How chosen tracks go to a speaker: after its list ("Add to Queue"), in place of it ("Play
// Now": the list becomes them and the first starts) or right after the current track ("Play
// Next").
enum class TPlayMode { Add, PlayNow, PlayNext };

// One command of a plan: a word and its argument lines.
struct TPlanStep {
    QByteArray Word;
    QByteArrayList Lines;

    bool operator==(const TPlanStep &) const = default;
};

// Chosen tracks played on a speaker with the words every speaker knows (ADD, UPDATELIST, URL).
// A speaker carries out list jobs one per tick but URL at once, so the URL that starts the
// first track waits until the speaker's list is the planned one: the ADD after the UPDATELIST
// adds nothing but makes the speaker send that list back to every controller.
struct TPlayPlan {
    // Sent at once, in order.
    QList<TPlanStep> Steps;
    // The list the speaker holds once the steps are done (Play Now and Play Next).
    QByteArrayList List;
    // Play Now: sent as "URL" once the speaker reports List; empty: nothing waits.
    QByteArray Start;

    // Whether a list the speaker reported begins with List, as the speaker compares locations
    // (A-Z case ignored): tracks another controller added meanwhile follow the planned ones and
    // must not keep the first from starting.
    bool Reached(const QByteArrayList &Reported) const;
};

// The plan for Chosen on a speaker whose list is Current and whose current track is Playing
// (a location of Current; empty: none). The lists keep what a play list holds: one location
// per track (A-Z case ignored), within a play list's bounds.
TPlayPlan PlanPlay(const QByteArrayList &Current, const QByteArray &Playing,
                   const QByteArrayList &Chosen, TPlayMode Mode);

// The row Step rows from Playing's in List (wrapping round): the next (1) or the previous
// (-1) track in the speaker's order. With no current track, the first row for the next, the
// last for the previous; -1 for an empty list.
int NeighbourRow(const QByteArrayList &List, const QByteArray &Playing, int Step);
