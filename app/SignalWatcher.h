#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (session end, Ctrl+C) into a signal on the GUI thread,
// so they run the ordinary close sequence and nothing is lost.
class TSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit TSignalWatcher(QObject *Parent = nullptr);
    ~TSignalWatcher() override;

Q_SIGNALS:
    void CloseRequested();

private:
    void HandleSignal();
    QSocketNotifier *FNotifier = nullptr;
};
