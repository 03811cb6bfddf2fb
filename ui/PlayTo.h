#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// What the library page needs to turn rows into URLs for a target computer. Plain functions,
// so that the rules are tested without a window.

// Whether Host names this computer: "localhost" or the host name (A-Z case ignored),
// 127.0.0.1, or one of OwnAddresses (dotted text) in any dotted form.
bool IsThisComputer(const QString &Host, const QByteArray &HostName,
                    const QByteArrayList &OwnAddresses);

// "http://" + Address + ":" + Port + "/" + Caption, the caption unescaped but for "%" and "?"
// ("%25", "%3F").
QByteArray TrackURL(const QByteArray &Address, quint16 Port, const QByteArray &Caption);

// The URLs for Sources played from a computer reached at Address: "http://" entries
// unchanged (A-Z case ignored), every other entry as the TrackURL of its Caption.
QByteArrayList PlayURLs(const QByteArrayList &Sources, const QByteArrayList &Captions,
                        const QByteArray &Address, quint16 Port);

// The outcome of checking the "Play on" text.
enum class TTargetCheck { Empty, Invalid, ThisComputer, Host };

// Checks the "Play on" text: empty, neither "My Computer" (spaces and A-Z case ignored) nor a
// valid host text, "My Computer", or a host.
TTargetCheck CheckTarget(const QString &Text);
