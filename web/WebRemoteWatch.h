#pragma once

// What both halves of TWebRemote share: the watch of one speaker and the texts sent from
// either.
#include "EventStream.h"
#include "RemoteSession.h"
#include "WebRemote.h"

#include <QJsonDocument>
#include <QTimer>

#include <array>

inline QByteArray Compact(const QJsonObject &Object) {
    return QJsonDocument(Object).toJson(QJsonDocument::Compact);
}

inline QString TooManyText() {
    return QStringLiteral("Too many speakers are driven from here at once.");
}

inline QString NoLocalSpeakerText() {
    return QStringLiteral("This computer's speaker cannot be reached: its command port is taken "
                          "by another program.");
}

inline QString TooMuchText() {
    return QStringLiteral("This speaker sent more than this computer keeps for it.");
}

inline QString RefusedText() {
    return QStringLiteral("This computer does not allow other people to play on it.");
}

// The browsers watching one speaker, and the session they share.
struct TWebRemote::TWatch {
    QString Key;
    QByteArray Token;      // what the page opens its event streams with
    quint32 Client = 0;    // the address that last opened it
    quint64 WatchedAt = 0; // when a browser last came or went
    QPointer<TRemoteSession> Session;
    bool Connected = false;
    bool Failed = false;
    bool TooMuch = false; // ended for holding more than the sessions' budget allows
    QList<std::shared_ptr<TEventStream>> Streams;
    std::unique_ptr<QTimer> Idle;
    // The newest event of each kind, for a browser that joins.
    std::array<QByteArray, TEventStream::KindCount> Events;
    qint64 ListVersion = 0;
};
