#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QString>

// What the library page needs to turn rows into URLs for a target computer. Plain functions,
// so that the rules are tested without a window.

// Whether Host names this computer: "localhost" or the host name (A-Z case ignored),
// 127.0.0.1, or one of OwnAddresses (dotted text) in any dotted form.
bool IsThisComputer(const QString &Host, const QByteArray &HostName,
                    const QByteArrayList &OwnAddresses);

// "http://" + Address + ":" + Port + "/" + Name, the name unescaped but for "%" and "?"
// ("%25", "%3F").
QByteArray TrackURL(const QByteArray &Address, quint16 Port, const QByteArray &Name);

// The names by which the media server finds the local files of Library that share their file
// name with another one: the file name with as many of its folders as no other file's path
// ends with, or the whole path (without its first "/") when another path ends with it. Files
// missing here are found by their file name alone.
QHash<QByteArray, QByteArray> ServedNames(const QByteArrayList &Library);

// The URLs for Sources (entries of Library) played from a computer reached at Address:
// "http://" entries unchanged (A-Z case ignored), every other entry as the TrackURL of the
// name the media server finds it by.
QByteArrayList PlayURLs(const QByteArrayList &Sources, const QByteArrayList &Library,
                        const QByteArray &Address, quint16 Port);

// The part of a list of URLs that one "ADD" carries, and how many URLs were left out.
struct TAddPlan {
    QByteArrayList URLs;
    qsizetype Left = 0;
};

// The URLs, in order, that a speaker's empty play list takes: a URL too long for one line is
// left out; the list ends where the next URL would pass its row or byte bound.
TAddPlan PlanAdd(const QByteArrayList &URLs);

// The outcome of checking the "Play on" text.
enum class TTargetCheck { Empty, Invalid, ThisComputer, Host };

// Checks the "Play on" text: empty, neither "My Computer" (spaces and A-Z case ignored) nor a
// valid host text, "My Computer", or a host.
TTargetCheck CheckTarget(const QString &Text);
