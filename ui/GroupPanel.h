#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <utility>

class QLabel;
class QPushButton;
class QSlider;
class QToolButton;
class QVBoxLayout;
class TRemoteSession;

// The remote page's group: the rooms playing with the speaker, each with its own volume bar,
// mute and "Leave Group", "Add Room...", and the group's status line. It shows what the
// session's TRemoteGroup holds and forwards the user's commands; a speaker that never told
// a group shows nothing of it.
class TGroupPanel : public QWidget {
    Q_OBJECT
public:
    TGroupPanel(TRemoteSession &Session, QWidget *Parent = nullptr);

    // Where "Add Room..." finds the computers to offer (none set: only typing).
    // The computers known, each as its host and as it shows (this computer by its address).
    using TComputerList = QList<std::pair<QString, QString>>;
    void SetComputerSource(std::function<TComputerList()> Source) {
        FComputers = std::move(Source);
    }
    // Shows the session's group anew.
    void ShowGroup();
    // "Add Room...": the user picks a computer or types one; the speaker is asked to add it.
    void AddRoom();

    QPushButton *FAddRoomButton = nullptr;
    QLabel *FStatusLabel = nullptr;

private:
    struct TRoomRow {
        QByteArray Host;
        QWidget *Box = nullptr;
        QLabel *Name = nullptr;
        QSlider *Volume = nullptr;
        QToolButton *Mute = nullptr;
    };
    void BuildRows();
    void ShowStatus(const QString &Extra = {});

    TRemoteSession &FSession;
    std::function<TComputerList()> FComputers;
    QVBoxLayout *FRoomsLayout = nullptr;
    QList<TRoomRow> FRows;
    QWidget *FRoomsBox = nullptr;
};
