#include "GroupPanel.h"

#include "Modal.h"
#include "PlayTo.h"
#include "RemoteSession.h"
#include "SelectComputerDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

TGroupPanel::TGroupPanel(TRemoteSession &Session, QWidget *Parent)
    : QWidget(Parent), FSession(Session) {
    setObjectName(QStringLiteral("FGroupPanel"));
    FRoomsBox = new QWidget(this);
    FRoomsLayout = new QVBoxLayout(FRoomsBox);
    FRoomsLayout->setContentsMargins(0, 0, 0, 0);
    FAddRoomButton = new QPushButton(QStringLiteral("Add Room..."), this);
    FAddRoomButton->setObjectName(QStringLiteral("FAddRoomButton"));
    FStatusLabel = new QLabel(this);
    FStatusLabel->setObjectName(QStringLiteral("FGroupStatus"));
    FStatusLabel->setTextFormat(Qt::PlainText);
    FStatusLabel->setWordWrap(true);
    auto *Bottom = new QHBoxLayout;
    Bottom->addWidget(FStatusLabel, 1);
    Bottom->addWidget(FAddRoomButton, 0, Qt::AlignTop);
    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(2, 2, 2, 2);
    Layout->addWidget(FRoomsBox);
    Layout->addLayout(Bottom);
    // The dialog runs after the click has returned: nothing is freed inside its loop.
    connect(FAddRoomButton, &QPushButton::clicked, this, &TGroupPanel::AddRoom,
            Qt::QueuedConnection);
    ShowGroup();
}

void TGroupPanel::AddRoom() {
    TSelectComputerDialog Dialog(window());
    Dialog.setWindowTitle(QStringLiteral("Add Room"));
    Dialog.AllowTyping();
    // The other speakers by name: not this room, nor one in its group already.
    QStringList Hosts, Labels;
    for (const auto &[Host, Label] : FComputers ? FComputers() : TComputerList())
        if (FSession.Group().Offers(Host.toUtf8(), FSession.Host().toUtf8())) {
            Hosts.append(Host);
            Labels.append(Label);
        }
    Dialog.SetComputers(Hosts, QString());
    for (int Row = 0; Row < Labels.size(); ++Row)
        if (Labels[Row] != Hosts[Row])
            Dialog.LabelComputer(Row, Labels[Row]);
    if (ExecModal(Dialog) != QDialog::Accepted)
        return;
    const QString Host = Dialog.SelectedComputer();
    if (CheckTarget(Host) == TTargetCheck::ThisComputer)
        ShowStatus(QStringLiteral("Type this computer's name or address to add it."));
    else if (!FSession.AddRoom(Host))
        ShowStatus(QStringLiteral("Invalid computer name or IP !"));
}

void TGroupPanel::ShowStatus(const QString &Extra) {
    const QString Line = FSession.Group().StatusLine();
    FStatusLabel->setText(Extra.isEmpty() ? Line : Line.isEmpty() ? Extra : Extra + "; " + Line);
    FStatusLabel->setVisible(!FStatusLabel->text().isEmpty());
}

void TGroupPanel::ShowGroup() {
    const TRemoteGroup &Group = FSession.Group();
    setVisible(!Group.Rooms().isEmpty());
    // A speaker alone shows no rooms: its own bar and mute are above.
    const QList<TGroupRoom> Rooms = Group.IsGroup() ? Group.Rooms() : QList<TGroupRoom>();
    bool Same = Rooms.size() == FRows.size();
    for (qsizetype I = 0; Same && I < Rooms.size(); ++I)
        Same = Rooms[I].Host == FRows[I].Host;
    if (!Same)
        BuildRows();
    for (qsizetype I = 0; I < Rooms.size(); ++I) {
        const TGroupRoom &Room = Rooms[I];
        const TRoomRow &Row = FRows[I];
        Row.Name->setText(Room.Name);
        Row.Volume->setAccessibleName(QStringLiteral("Volume of ") + Room.Name);
        const QSignalBlocker Quiet(Row.Volume), QuietMute(Row.Mute);
        // The user's hand wins over the report.
        if (!Row.Volume->isSliderDown())
            Row.Volume->setValue(Room.Volume);
        Row.Mute->setChecked(Room.Muted);
    }
    ShowStatus();
}

void TGroupPanel::BuildRows() {
    // Later: a row's own signal may be running.
    for (const TRoomRow &Row : std::as_const(FRows)) {
        Row.Box->hide();
        Row.Box->deleteLater();
    }
    FRows.clear();
    const TRemoteGroup &Group = FSession.Group();
    if (!Group.IsGroup())
        return;
    for (const TGroupRoom &Room : Group.Rooms()) {
        TRoomRow Row;
        Row.Host = Room.Host;
        Row.Box = new QWidget(FRoomsBox);
        Row.Name = new QLabel(Row.Box);
        Row.Name->setTextFormat(Qt::PlainText);
        Row.Volume = new QSlider(Qt::Horizontal, Row.Box);
        Row.Volume->setRange(0, 100);
        Row.Mute = new QToolButton(Row.Box);
        Row.Mute->setText(QStringLiteral("Mute"));
        Row.Mute->setCheckable(true);
        auto *Leave = new QPushButton(QStringLiteral("Leave Group"), Row.Box);
        auto *Line = new QHBoxLayout(Row.Box);
        Line->setContentsMargins(0, 0, 0, 0);
        Line->addWidget(Row.Name, 1);
        Line->addWidget(Row.Volume, 1);
        Line->addWidget(Row.Mute);
        Line->addWidget(Leave);
        FRoomsLayout->addWidget(Row.Box);
        const QByteArray Host = Room.Host;
        QSlider *Volume = Row.Volume;
        connect(Volume, &QSlider::sliderReleased, this,
                [this, Host, Volume] { FSession.SetRoomVolume(Host, Volume->value()); });
        // Keys and clicks beside the handle move it without a drag.
        connect(Volume, &QSlider::valueChanged, this, [this, Host, Volume](int Value) {
            if (!Volume->isSliderDown())
                FSession.SetRoomVolume(Host, Value);
        });
        connect(Row.Mute, &QToolButton::clicked, this,
                [this, Host](bool Muted) { FSession.SetRoomMute(Host, Muted); });
        connect(Leave, &QPushButton::clicked, this, [this, Host] { FSession.LeaveGroup(Host); });
        FRows.append(Row);
    }
}
