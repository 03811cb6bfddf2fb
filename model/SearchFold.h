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

// The one folded text a library row is searched by: its file name (bytes as the file system has
// them), title, artists, album, album artist, genre and year. Folding can make a text many times
// longer: the row's is cut at MaxSearchRowBytes.
QByteArray SearchRowText(const TTrackTags &Tags, const QByteArray &FileName);
constexpr qsizetype MaxSearchRowBytes = 32 * 1024;

// The folded words of what the user typed, each once; none for a blank query. A search costs
// its words times the rows they match: only the first MaxQueryChars characters and
// MaxQueryWords words count (a cut word finds all the whole one would).
QByteArrayList SearchWords(QStringView Query);
constexpr qsizetype MaxQueryChars = 256;
constexpr qsizetype MaxQueryWords = 16;

// Whether every word is part of the row's folded text (a query without words matches all).
bool SearchMatches(const QByteArray &RowText, const QByteArrayList &Words);
