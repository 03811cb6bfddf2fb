#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QStringView>

struct TTrackTags;

// Text as the search compares it, UTF-8: compatibility-decomposed, combining marks dropped,
// case folded, and the letters decomposition leaves whole written as their base letters
// (o for ø, l for ł, d for đ, ae for æ, oe for œ, ss for ß), so typing without accents finds
// the accented name.
QByteArray SearchFold(QStringView Text);

// The one folded text a library row is searched by: its title, artists, album, album artist,
// genre, year and file name (bytes as the file system has them).
QByteArray SearchRowText(const TTrackTags &Tags, const QByteArray &FileName);

// The folded words of what the user typed; none for a blank query.
QByteArrayList SearchWords(QStringView Query);

// Whether every word is part of the row's folded text (a query without words matches all).
bool SearchMatches(const QByteArray &RowText, const QByteArrayList &Words);
