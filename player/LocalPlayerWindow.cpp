#include "LocalPlayerWindow.h"

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

TLocalPlayerWindow::TLocalPlayerWindow(quint16 Port, std::unique_ptr<TMediaComponent> Media,
                                       QWidget *Parent)
    : QWidget(Parent), FMedia(std::move(Media)) {
    if (!FMedia)
        FMedia = std::make_unique<TMediaPlayer>();
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
    connect(FEngine.get(), &TPlaybackEngine::ShowRequested, this,
            &TLocalPlayerWindow::ShowRequested);

    FStrip = new TMediaControlStrip(FMedia.get(), this);
    BuildPlayListView();

    auto *Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addWidget(FStrip);
    Layout->addWidget(FPlayListView, 1);

    if (!FServer->Listen(Port))
        qWarning("Command port %u is taken: no controller can reach this player", unsigned(Port));
    connect(FServer.get(), &TCommandServer::Connected, FEngine.get(),
            &TPlaybackEngine::OnControllerConnected);
    connect(FServer.get(), &TCommandServer::CommandReceived, FEngine.get(),
            &TPlaybackEngine::ExecuteCommand);

    FPlayTimer = new QTimer(this);
    FPlayTimer->setInterval(200);
    connect(FPlayTimer, &QTimer::timeout, FEngine.get(), &TPlaybackEngine::PlayTick);
    FPositionTimer = new QTimer(this);
    FPositionTimer->setInterval(1000);
    connect(FPositionTimer, &QTimer::timeout, FEngine.get(), &TPlaybackEngine::PositionTick);
    FPlayTimer->start();
    FPositionTimer->start();
}

void TLocalPlayerWindow::BuildPlayListView() {
    FPlayListView = new QTableView(this);
    FPlayListView->setObjectName(QStringLiteral("FPlayListView"));
    FPlayListView->setModel(FEngine->Model());
    FPlayListView->horizontalHeader()->hide();
    FPlayListView->verticalHeader()->hide();
    FPlayListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FPlayListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FPlayListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FPlayListView->setShowGrid(false);
    FPlayListView->setWordWrap(false);
    FPlayListView->verticalHeader()->setDefaultSectionSize(FPlayListView->fontMetrics().height() +
                                                           4);
    QHeaderView *Columns = FPlayListView->horizontalHeader();
    Columns->setSectionResizeMode(TPlayListModel::ColumnName, QHeaderView::Stretch);
    Columns->setSectionResizeMode(TPlayListModel::ColumnFrom, QHeaderView::Fixed);
    // "Name" takes whatever "From" leaves, at every size.
    Columns->resizeSection(TPlayListModel::ColumnFrom, FromColumnWidth);
}

TLocalPlayerWindow::~TLocalPlayerWindow() {
    StopServices();
    // The view and the strip look at the model and the component: they go first, then the
    // server (it calls into the engine), then the engine, then the component.
    delete FPlayListView;
    FPlayListView = nullptr;
    delete FStrip;
    FStrip = nullptr;
    FServer.reset();
    FEngine.reset();
    FMedia.reset();
}

void TLocalPlayerWindow::StopServices() {
    if (FPlayTimer)
        FPlayTimer->stop();
    if (FPositionTimer)
        FPositionTimer->stop();
    if (FServer)
        FServer->Close();
}

void TLocalPlayerWindow::DisconnectAll() {
    FServer->DisconnectAll();
}

bool TLocalPlayerWindow::IsListening() const {
    return FServer->IsListening();
}
