#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

#include <functional>

// A long list (a speaker's play list, the library) reaches the page in pages the page asks
// for: one answer or event carries at most PageRows rows and about PageBytes of JSON, so
// whatever a speaker sends or however large the library grows, each costs a bounded amount
// to build, to keep and to send.
constexpr qsizetype PageRows = 500;
constexpr qsizetype PageBytes = 256 * 1024;

// Utf8 as a JSON string, quotes included; invalid UTF-8 becomes U+FFFD as a browser shows it.
QByteArray JsonText(QByteArrayView Utf8);

// A JSON array of Row(0), Row(1)... (each a JSON value) for at most Count rows: it ends before
// PageRows rows or before a row would take it past PageBytes, but holds one row at least.
QByteArray JsonPage(qsizetype Count, const std::function<QByteArray(qsizetype)> &Row);

// {"count","from","items","version"}: rows of a play list (of version Version) from From on,
// a page of at most Count rows. With Mark: also the location the marked rows hold and the
// first such row ("markRow", -1: none), for the page to scroll to. With CaptionOf: a row whose
// location has a caption is [location, caption] ("Title - Artist"), the others a location.
QByteArray ListPageJson(const QByteArrayList &List, qint64 Version, qsizetype From, qsizetype Count,
                        const QByteArray *Mark = nullptr,
                        const std::function<QString(const QByteArray &)> &CaptionOf = {});
