#pragma once

#include <QByteArray>
#include <QObject>

// What this computer shares with others: whether other people may play on its speaker, and
// the address its track URLs carry. One object per program, owned by whoever runs it; readers
// hold a reference and follow Changed.
class TSharingState : public QObject {
    Q_OBJECT
public:
    explicit TSharingState(QObject *Parent = nullptr) : QObject(Parent) {}

    bool AllowOthers() const { return FAllowOthers; }
    void SetAllowOthers(bool Allowed);
    // This computer's address for track URLs; "127.0.0.1" while it is offline.
    QByteArray LocalIP() const { return FLocalIP; }
    void SetLocalIP(const QByteArray &IP);

Q_SIGNALS:
    // Either value changed.
    void Changed();

private:
    bool FAllowOthers = true;
    QByteArray FLocalIP = "127.0.0.1";
};
