#include "LocalPlayerForm.h"

#include "CommandServer.h"
#include "MediaControlStrip.h"
#include "MediaPlayer.h"

#include <QHeaderView>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int FromColumnWidth = 100;

} // namespace

TFormLocalPlayer::TFormLocalPlayer(quint16 Port, std::unique_ptr<TMediaComponent> Media,
                                   QWidget *Parent)
    : QWidget(Parent), FMedia(std::move(Media)) {
    if (!FMedia)
        FMedia = std::make_unique<TMediaPlayer>();
    FormCreate(Port);
}

TFormLocalPlayer::~TFormLocalPlayer() {
    FormDestroy();
}

void TFormLocalPlayer::FormCreate(quint16 Port) {
    setWindowTitle(QStringLiteral("My Player"));
    FServer = std::make_unique<TCommandServer>();
    TMessageSink Sink;
    TCommandServer *Server = FServer.get();
    Sink.Broadcast = [Server](const QByteArray &Word, const QByteArray &Payload,
                              const QByteArray &Skip) { Server->Broadcast(Word, Payload, Skip); };
    Sink.SendToConnection = [Server](TConnectionId Id, const QByteArray &Word,
                                     const QByteArray &Payload) {
        Server->SendToConnection(Id, Word, Payload);
    };
    FEngine = std::make_unique<TPlaybackEngine>(FMedia.get(), std::move(Sink));
    connect(FEngine.get(), &TPlaybackEngine::ShowRequested, this, &TFormLocalPlayer::ShowRequested);

    FStrip = new TMediaControlStrip(FMedia.get(), this);
    suiListViewPlayList = new QTableView(this);
    suiListViewPlayList->setObjectName(QStringLiteral("suiListViewPlayList"));
    suiListViewPlayList->setModel(FEngine->Model());
    suiListViewPlayList->horizontalHeader()->hide();
    suiListViewPlayList->verticalHeader()->hide();
    suiListViewPlayList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    suiListViewPlayList->setSelectionBehavior(QAbstractItemView::SelectRows);
    suiListViewPlayList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    suiListViewPlayList->setShowGrid(false);
    suiListViewPlayList->setWordWrap(false);
    suiListViewPlayList->verticalHeader()->setDefaultSectionSize(
        suiListViewPlayList->fontMetrics().height() + 4);
    QHeaderView *Columns = suiListViewPlayList->horizontalHeader();
    Columns->setSectionResizeMode(TPlayListModel::ColumnName, QHeaderView::Stretch);
    Columns->setSectionResizeMode(TPlayListModel::ColumnFrom, QHeaderView::Fixed);
    // "Name" takes whatever "From" leaves, at every size.
    Columns->resizeSection(TPlayListModel::ColumnFrom, FromColumnWidth);

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(FStrip);
    Layout->addWidget(suiListViewPlayList, 1);

    FHomeParent = parentWidget();

    if (!FServer->Listen(Port))
        qWarning("Command port %u is taken: no controller can reach this player", unsigned(Port));
    connect(FServer.get(), &TCommandServer::Connected, FEngine.get(),
            &TPlaybackEngine::IdTCPServerCmdConnect);
    connect(FServer.get(), &TCommandServer::CommandReceived, FEngine.get(),
            &TPlaybackEngine::IdTCPServerCmdExecute);

    TimerPlay = new QTimer(this);
    TimerPlay->setInterval(200);
    connect(TimerPlay, &QTimer::timeout, FEngine.get(), &TPlaybackEngine::TimerPlayTimer);
    TimerDura = new QTimer(this);
    TimerDura->setInterval(1000);
    connect(TimerDura, &QTimer::timeout, FEngine.get(), &TPlaybackEngine::TimerDuraTimer);
    TimerPlay->start();
    TimerDura->start();
}

void TFormLocalPlayer::FormDestroy() {
    StopServices();
    // The view and the strip look at the model and the component: they go first, then the
    // server (it calls into the engine), then the engine, then the component.
    delete suiListViewPlayList;
    suiListViewPlayList = nullptr;
    delete FStrip;
    FStrip = nullptr;
    FServer.reset();
    FEngine.reset();
    FMedia.reset();
}

void TFormLocalPlayer::StopServices() {
    if (TimerPlay)
        TimerPlay->stop();
    if (TimerDura)
        TimerDura->stop();
    if (FServer)
        FServer->Close();
}

void TFormLocalPlayer::DisconnectAll() {
    FServer->DisconnectAll();
}

bool TFormLocalPlayer::IsListening() const {
    return FServer->IsListening();
}
