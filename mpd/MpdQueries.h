#pragma once

#include "MpdFilter.h"
#include "MpdLibrary.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

using TMpdLibraryPtr = std::shared_ptr<const TMpdLibrary>;

// An answer made a piece at a time, so that a long one is never whole in memory: each call
// appends the next lines, about Budget bytes of them, to Out; false once nothing is left.
using TMpdPieces = std::function<bool(QByteArray &Out, qsizetype Budget)>;

// What a query command answers: lines to send a piece at a time, or MPD's error.
struct TMpdQueryAnswer {
    TMpdQueryAnswer(TMpdPieces Lines = {}) : Pieces(std::move(Lines)) {}

    TMpdPieces Pieces;
    QString Error;
    // MPD's error code (ACK [Code@...]): 2 an argument, 50 nothing of that name.
    int Code = 0;

    static TMpdQueryAnswer Fail(int Code, const QString &Text) {
        TMpdQueryAnswer Answer;
        Answer.Error = Text;
        Answer.Code = Code;
        return Answer;
    }
};

// Every piece of Lines at once (small answers, tests).
QByteArray MpdWhole(const TMpdPieces &Pieces);

// The song lines of Rows, in order.
TMpdPieces MpdSongPieces(TMpdLibraryPtr Library, QList<int> Rows, TMpdTagMask Mask);

// lsinfo: Folder's subfolders ("directory:") and songs, or the song Folder names.
TMpdQueryAnswer MpdLsInfo(TMpdLibraryPtr Library, const QByteArray &Folder, TMpdTagMask Mask);
// listall (Info false) and listallinfo: every folder and song below Folder, or that song.
TMpdQueryAnswer MpdListAll(TMpdLibraryPtr Library, const QByteArray &Folder, bool Info,
                           TMpdTagMask Mask);

// The rows find (Exact) or search (Folded) gives for Args: a filter, then "sort TYPE" and
// "window START:END" if any. None, with *Error, when Args are not that.
std::optional<QList<int>> MpdFindRows(const TMpdLibrary &Library, const QByteArrayList &Args,
                                      TMpdMatch Match, QString *Error);
// find and search: the songs MpdFindRows gives.
TMpdQueryAnswer MpdFind(TMpdLibraryPtr Library, const QByteArrayList &Args, TMpdMatch Match,
                        TMpdTagMask Mask);
// list TYPE [FILTER] [group TYPE]... (and the old "list album ARTIST"): the distinct values.
TMpdQueryAnswer MpdList(TMpdLibraryPtr Library, const QByteArrayList &Args);
// count [FILTER] [group TYPE]: songs and seconds of play, in all or per value of the group.
TMpdQueryAnswer MpdCount(TMpdLibraryPtr Library, const QByteArrayList &Args, TMpdMatch Match);
