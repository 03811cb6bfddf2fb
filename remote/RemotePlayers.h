#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

// What the main window needs of an open remote player page, whatever draws it.
class TRemotePlayer : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The computer as the user gave it ("kitchen", "192.168.1.20").
    virtual QString Host() const = 0;
    // Its IPv4 address as a number; all bits set for a name.
    virtual quint32 HostAddr() const = 0;
    // Ends the connection; the page then leaves RemotePlayers (once, maybe later).
    virtual void EndConnection() = 0;
};

// The open remote player pages, program-wide. A page adds itself when it starts and removes
// itself when its connection has ended; the close sequence waits until the list is empty.
class TRemotePlayerList : public QObject {
    Q_OBJECT
public:
    void Add(TRemotePlayer *Page);
    void Remove(TRemotePlayer *Page);
    // The pages still registered, in opening order; pages already deleted are skipped.
    QList<TRemotePlayer *> Pages() const;
    bool IsEmpty() const { return Pages().isEmpty(); }

Q_SIGNALS:
    // A page left the list: whoever waits for the list to empty looks again.
    void PageRemoved();

private:
    QList<QPointer<TRemotePlayer>> FPages;
};

// The one list of open remote player pages.
TRemotePlayerList &RemotePlayers();
