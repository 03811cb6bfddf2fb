#pragma once

#include "MpdFilter.h"
#include "MpdLibrary.h"
#include "MpdResponse.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>

#include <memory>

// The library's query commands over one library version. Each writes its answer to Out,
// streaming what can be long, or throws TMpdError (MpdFail) with MPD's reason.

using TMpdLibraryPtr = std::shared_ptr<const TMpdLibrary>;

// The songs of Rows, in order (streamed).
void MpdSongs(TMpdResponse &Out, TMpdLibraryPtr Library, QList<int> Rows, TMpdTagMask Mask);
// lsinfo: Folder's subfolders ("directory:") and songs, or the song Folder names.
void MpdLsInfo(TMpdResponse &Out, TMpdLibraryPtr Library, const QByteArray &Folder,
               TMpdTagMask Mask);
// listall (Info false) and listallinfo: every folder and song below Folder, or that song.
void MpdListAll(TMpdResponse &Out, TMpdLibraryPtr Library, const QByteArray &Folder, bool Info,
                TMpdTagMask Mask);
// The rows find (Exact) or search (Folded) gives for Args: a filter, then "sort TYPE" and
// "window START:END" if any.
QList<int> MpdFindRows(const TMpdLibrary &Library, const QByteArrayList &Args, TMpdMatch Match);
// list TYPE [FILTER] [group TYPE]... (and the old "list album ARTIST"): the distinct values.
void MpdList(TMpdResponse &Out, TMpdLibraryPtr Library, const QByteArrayList &Args);
// count [FILTER] [group TYPE]: songs and seconds of play, in all or per value of the group.
void MpdCount(TMpdResponse &Out, const TMpdLibrary &Library, const QByteArrayList &Args,
              TMpdMatch Match);
