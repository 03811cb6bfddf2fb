#include "RemotePlayerPage.h"

#include "AsciiText.h"
#include "GroupPanel.h"
#include "PlayListPane.h"
#include "RemotePlayListModel.h"
#include "Settings.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int TopStripHeight = 38;
constexpr int VolumeBarWidth = 57;
const QColor TopStripColor(Qt::black);
const QColor TopStripText(0x9c, 0xd3, 0xff);

QToolButton *ImageButton(QWidget *Parent, const char *Name, QStyle::StandardPixmap Image,
                         const QString &Hint) {
    auto *Button = new QToolButton(Parent);
    Button->setObjectName(QLatin1String(Name));
    Button->setIcon(Parent->style()->standardIcon(Image));
    Button->setToolTip(Hint);
    Button->setAccessibleName(Hint);
    Button->setAutoRaise(true);
    return Button;
}

QSlider *TrackBar(QWidget *Parent, const char *Name, const QString &Caption) {
    auto *Bar = new QSlider(Qt::Horizontal, Parent);
    Bar->setObjectName(QLatin1String(Name));
    Bar->setRange(0, 100);
    Bar->setAccessibleName(Caption);
    return Bar;
}

} // namespace

TRemotePlayerPage::TRemotePlayerPage(QWidget *Parent)
    : QWidget(Parent), FSession(new TRemoteSession(this)), FModel(new TRemotePlayListModel(this)) {
    setObjectName(QStringLiteral("RemotePlayer"));
    setWindowTitle(QStringLiteral("Remote player"));
    CreateControls();
    connect(FPane, &TPlayListPane::AboutRequested, this, &TRemotePlayerPage::AboutRequested);

    connect(FSession, &TRemoteSession::Repaint, this, &TRemotePlayerPage::Repaint);
    connect(FSession, &TRemoteSession::ConnectFailed, this,
            [this] { Q_EMIT ConnectFailed(FSession->Host()); });
    connect(FSession, &TRemoteSession::Ended, this, &TRemotePlayerPage::Finished);
}

TRemotePlayerPage::~TRemotePlayerPage() {
    // Nothing the client, the model or the selection still say may reach a page being
    // destroyed (the children go after this body has run).
    FSession->disconnect(this);
    FModel->disconnect(this);
    FPane->disconnect(this);
    // The pane goes before the model it shows.
    delete FPane;
    FSession->Close();
}

void TRemotePlayerPage::CreateControls() {
    auto *TopStrip = new QWidget(this);
    TopStrip->setObjectName(QStringLiteral("FTopStrip"));
    TopStrip->setFixedHeight(TopStripHeight);
    TopStrip->setAutoFillBackground(true);
    QPalette Colors = TopStrip->palette();
    Colors.setColor(QPalette::Window, TopStripColor);
    Colors.setColor(QPalette::WindowText, TopStripText);
    TopStrip->setPalette(Colors);
    FInfoLabel = new QLabel(QStringLiteral("   "), TopStrip);
    FInfoLabel->setObjectName(QStringLiteral("FInfoLabel"));
    FTimeLabel = new QLabel(TopStrip);
    FTimeLabel->setObjectName(QStringLiteral("FTimeLabel"));
    FTimeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The speaker's words are text, never markup; a screen reader hears the text itself.
    FInfoLabel->setAccessibleDescription(QStringLiteral("Track information"));
    FTimeLabel->setAccessibleDescription(QStringLiteral("Time"));
    FTimeLabel->hide(); // until there is a time to read
    // A skin's label colour would hide the text on the black strip.
    for (QLabel *Label : {FInfoLabel, FTimeLabel}) {
        Label->setTextFormat(Qt::PlainText);
        Label->setStyleSheet(QStringLiteral("color: %1;").arg(TopStripText.name()));
    }
    auto *TopLayout = new QHBoxLayout(TopStrip);
    TopLayout->addWidget(FInfoLabel, 1);
    TopLayout->addWidget(FTimeLabel);

    FPositionBar = TrackBar(this, "FPositionBar", QStringLiteral("Position"));
    FPlayButton = ImageButton(this, "FPlayButton", QStyle::SP_MediaPlay, QStringLiteral("Play"));
    FPauseButton =
        ImageButton(this, "FPauseButton", QStyle::SP_MediaPause, QStringLiteral("Pause"));
    FPauseButton->hide();
    FStopButton = ImageButton(this, "FStopButton", QStyle::SP_MediaStop, QStringLiteral("Stop"));
    FPreviousButton = ImageButton(this, "FPreviousButton", QStyle::SP_MediaSkipBackward,
                                  QStringLiteral("Previous"));
    FNextButton =
        ImageButton(this, "FNextButton", QStyle::SP_MediaSkipForward, QStringLiteral("Next"));
    FSoundButton =
        ImageButton(this, "FSoundButton", QStyle::SP_MediaVolume, QStringLiteral("Sound on"));
    FMuteButton =
        ImageButton(this, "FMuteButton", QStyle::SP_MediaVolumeMuted, QStringLiteral("Mute"));
    FMuteButton->hide();
    FVolumeBar = TrackBar(this, "FVolumeBar", QStringLiteral("Volume"));
    FVolumeBar->setFixedWidth(VolumeBarWidth);
    FCloseButton = ImageButton(this, "FCloseButton", QStyle::SP_TitleBarCloseButton,
                               QStringLiteral("Disconnect this remote player"));
    auto *Buttons = new QHBoxLayout;
    Buttons->setContentsMargins(2, 0, 2, 0);
    for (QWidget *W : {static_cast<QWidget *>(FPlayButton), static_cast<QWidget *>(FPauseButton),
                       static_cast<QWidget *>(FStopButton), static_cast<QWidget *>(FPreviousButton),
                       static_cast<QWidget *>(FNextButton), static_cast<QWidget *>(FSoundButton),
                       static_cast<QWidget *>(FMuteButton), static_cast<QWidget *>(FVolumeBar)})
        Buttons->addWidget(W);
    Buttons->addStretch(1);
    Buttons->addWidget(FCloseButton);

    FModel->SetMarkIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    FPane = new TPlayListPane(*this, FModel, TRemotePlayListModel::ColumnName,
                              TRemotePlayListModel::ColumnFrom, false, this);

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(TopStrip);
    Layout->addWidget(FPositionBar);
    Layout->addLayout(Buttons);
    FGroupPanel = new TGroupPanel(*FSession, this);
    Layout->addWidget(FGroupPanel);
    Layout->addWidget(FPane, 1);

    connect(FPlayButton, &QToolButton::clicked, this, &TRemotePlayerPage::PlayOrPause);
    connect(FPauseButton, &QToolButton::clicked, this, &TRemotePlayerPage::PlayOrPause);
    connect(FStopButton, &QToolButton::clicked, this, &TRemotePlayerPage::Stop);
    connect(FPreviousButton, &QToolButton::clicked, FSession, &TRemoteSession::PlayPrevious);
    connect(FNextButton, &QToolButton::clicked, FSession, &TRemoteSession::PlayNext);
    connect(FSoundButton, &QToolButton::clicked, this, &TRemotePlayerPage::ToggleMute);
    connect(FMuteButton, &QToolButton::clicked, this, &TRemotePlayerPage::ToggleMute);
    connect(FCloseButton, &QToolButton::clicked, this, &TRemotePlayerPage::EndConnection);
    for (QSlider *Bar : {FPositionBar, FVolumeBar}) {
        Bar->installEventFilter(this);
        connect(Bar, &QSlider::valueChanged, this,
                [this, Bar](int Value) { FSession->BarMoved(BarOf(Bar), Value); });
    }
}

void TRemotePlayerPage::ConnectTo(const QString &Host, quint16 Port) {
    FSession->Start(Host, Port);
}

void TRemotePlayerPage::PostCommand(const QByteArray &Command, const QByteArray &Body) {
    FSession->PostCommand(Command, Body);
}

void TRemotePlayerPage::EndConnection() {
    FSession->Close();
}

QByteArrayList TRemotePlayerPage::ShownLocations() const {
    return FModel->Locations();
}

// What the speaker reported, at most once per refresh interval.

void TRemotePlayerPage::Repaint(unsigned Changes) {
    const TRemoteSession &S = *FSession;
    if (Changes & TRemoteSession::ListChanged)
        ShowList();
    else if (Changes & TRemoteSession::MarkChanged)
        FModel->MarkCurrent(S.Mark());
    if (Changes & (TRemoteSession::ListChanged | TRemoteSession::MarkChanged))
        ShowInformation();
    if (Changes & TRemoteSession::StateChanged) {
        FPlayButton->setVisible(S.State() != TPlayState::Playing);
        FPauseButton->setVisible(S.State() == TPlayState::Playing);
    }
    if (Changes & TRemoteSession::MuteChanged) {
        FMuteButton->setVisible(S.Muted());
        FSoundButton->setVisible(!S.Muted());
    }
    if (Changes & TRemoteSession::VolumeChanged)
        FVolumeBar->setValue(S.BarValue(TTrackBar::Volume));
    if (Changes & TRemoteSession::PositionChanged) {
        FPositionBar->setValue(S.BarValue(TTrackBar::Position));
        FTimeLabel->setText(S.TimeText());
        FTimeLabel->setVisible(!S.TimeText().isEmpty());
        ShowInformation();
    }
    if (Changes & TRemoteSession::GroupChanged)
        FGroupPanel->ShowGroup();
}

void TRemotePlayerPage::SetCaptions(std::function<QString(const QByteArray &URL)> CaptionOf) {
    FCaptionOf = std::move(CaptionOf);
    FModel->SetCaptions(FCaptionOf);
    ShowInformation();
}

void TRemotePlayerPage::ShowInformation() {
    // A track of this computer's library is named by its tags, not by what the speaker read.
    const QString Tagged = FCaptionOf ? FCaptionOf(FSession->Mark()) : QString();
    FInfoLabel->setText(Tagged.isEmpty() ? FSession->Information() : Tagged);
}

void TRemotePlayerPage::ShowList() {
    FModel->Rebuild(FSession->List());
    if (!FSession->Mark().isEmpty())
        FModel->MarkCurrent(FSession->Mark());
}

// Transport.

void TRemotePlayerPage::PlayOrPause() {
    FSession->PlayOrPause();
}

void TRemotePlayerPage::Stop() {
    FSession->Stop();
}

void TRemotePlayerPage::ToggleMute() {
    FSession->ToggleMute();
}

TTrackBar TRemotePlayerPage::BarOf(QObject *Bar) const {
    return Bar == FPositionBar ? TTrackBar::Position : TTrackBar::Volume;
}

void TRemotePlayerPage::OnTrackBarReleased(QSlider *Bar) {
    if (FSession->ReleaseBar(BarOf(Bar)) && Bar == FPositionBar)
        FPane->View()->setFocus();
}

bool TRemotePlayerPage::eventFilter(QObject *Watched, QEvent *Event) {
    const QEvent::Type Type = Event->type();
    if (Watched == FPositionBar || Watched == FVolumeBar) {
        if (Type == QEvent::MouseButtonPress)
            FSession->PressBar(BarOf(Watched));
        else if (Type == QEvent::MouseButtonRelease)
            OnTrackBarReleased(static_cast<QSlider *>(Watched));
        return false;
    }
    return QWidget::eventFilter(Watched, Event);
}

// The list.

void TRemotePlayerPage::PlaySelectedRow() {
    const QList<int> Rows = FPane->SelectedRows();
    if (Rows.isEmpty())
        return;
    FSession->Play(FModel->Location(Rows.first()));
}

bool TRemotePlayerPage::PausesRow(int Row) const {
    return FModel->IsMarked(Row) && FSession->State() == TPlayState::Playing;
}

// The current track toggles by the state the speaker last reported.
void TRemotePlayerPage::PlayOrPauseSelected(bool) {
    const QList<int> Rows = FPane->SelectedRows();
    if (Rows.isEmpty())
        return;
    if (FModel->IsMarked(Rows.first()))
        PlayOrPause();
    else
        PlaySelectedRow();
}

void TRemotePlayerPage::SelectAll() {
    FPane->SelectAll();
}

void TRemotePlayerPage::RemoveSelected() {
    const QList<int> Rows = FPane->SelectedRows();
    if (Rows.isEmpty())
        return;
    const TRemoteSession::TListEdit Edit = FSession->Remove(Rows);
    if (Edit.InPlace)
        FModel->RemoveRows(Rows);
    else
        ShowList();
}

void TRemotePlayerPage::MoveSelectionDown() {
    ApplyEdit(FSession->MoveDown(FPane->SelectedRows()));
}

void TRemotePlayerPage::MoveSelectionUp() {
    ApplyEdit(FSession->MoveUp(FPane->SelectedRows()));
}

void TRemotePlayerPage::MoveSelectionToNextPlaying() {
    ApplyEdit(FSession->MoveToNextPlaying(FPane->SelectedRows()));
}

void TRemotePlayerPage::DropSelectionOn(int Row) {
    ApplyEdit(FSession->DropOn(FPane->SelectedRows(), Row));
}

void TRemotePlayerPage::ApplyEdit(const TRemoteSession::TListEdit &Edit) {
    if (!Edit.Move)
        return;
    if (Edit.InPlace)
        FModel->Reorder(*Edit.Move);
    else
        ShowList();
    FPane->SelectRows(Edit.Move->Selection);
}
