#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One running copy per user: the first copy listens on a per-user local socket; a
// later copy connects, asks it to restore its window and exits.
class TInstanceSlot : public QObject {
    Q_OBJECT
public:
    explicit TInstanceSlot(QObject *Parent = nullptr);
    ~TInstanceSlot() override;

    // Full path of this user's guard socket, in a folder only this user can write; empty when
    // there is none.
    static QString ServerName();
    // True when another copy runs (and was asked to restore); false when this copy
    // may run, listening from now on if the guard could be set up.
    bool ActivatePrevious();
    // Stops listening and removes the socket.
    void Close();
    bool IsListening() const;

Q_SIGNALS:
    // Another copy asked this one to show its main window.
    void RestoreRequested();

private:
    void AcceptConnections();
    void ReadRequest(QLocalSocket *Socket);
    void Drop(QLocalSocket *Socket);
    bool Listen();

    QLocalServer *FServer = nullptr;
};

// The process-wide guard object (created on first use).
TInstanceSlot *InstanceSlot();
// Sets up the guard; call once after the application object exists.
void OpenInstanceSlot();
// True: another copy runs and was asked to restore its window; false: this copy may run.
bool ActivatePreviousInstance();
// Stops listening and removes the socket.
void CloseInstanceSlot();
