#pragma once

// A remote player page on a real speaker with an observer beside it, shared by the page's two
// test programs.

#include "CommandClient.h"
#include "CommandReader.h"
#include "CommandServer.h"
#include "MediaPlayer.h"
#include "MessageText.h"
#include "RemotePlayListModel.h"
#include "RemotePlayerPage.h"
#include "ScriptedSpeaker.h"
#include "Settled.h"
#include "SharingState.h"
#include "Speaker.h"
#include "TestHttpServer.h"
#include "TestMedia.h"

#include <QSignalSpy>
#include <QTableView>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <memory>

// A second controller on another address: the speaker tells it every change of its list,
// including the ones the page makes.
struct TObserver {
    QTcpSocket Socket;
    TCommandReader Reader{ControllerCommands()};
    QByteArrayList Got;

    explicit TObserver(quint16 Port) {
        QObject::connect(&Socket, &QTcpSocket::readyRead, [this] {
            Reader.Feed(Socket.readAll(), 0);
            while (std::optional<TCommandMessage> M = Reader.Next())
                Got.append(Render(*M));
        });
        Socket.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        Socket.connectToHost(QHostAddress::LocalHost, Port);
    }
    // The first message starting with Prefix at or after From; -1: none.
    qsizetype Find(const QByteArray &Prefix, qsizetype From) const {
        const auto It = std::find_if(Got.begin() + From, Got.end(),
                                     [&](const QByteArray &M) { return M.startsWith(Prefix); });
        return It == Got.end() ? -1 : It - Got.begin();
    }
    bool Has(const QByteArray &Prefix, qsizetype From) const { return Find(Prefix, From) >= 0; }
    bool WaitFor(const QByteArray &Message, qsizetype From) {
        return QTest::qWaitFor([&] { return Got.indexOf(Message, From) >= 0; }, 5000);
    }
};

// The fields and helpers of the page's tests; each test class calls Init and Cleanup from its
// own init and cleanup.
class TRemotePageRig {
protected:
    TTestHttpServer *FHttp = nullptr;
    TSharingState FSharing;
    std::unique_ptr<TSpeaker> FSpeaker;
    std::unique_ptr<TObserver> FObserver;
    std::unique_ptr<TRemotePlayerPage> FPage;

    // Every track's location holds a blank, so marking it needs the decoded "URL".
    QByteArray Url(char Letter) const { return FHttp->Url("/" + QByteArray(1, Letter) + " x.wav"); }
    template <class T> T *Child(const char *Name) const {
        return FPage->findChild<T *>(QLatin1String(Name));
    }
    QAbstractItemModel *Rows() const { return Child<QTableView>("FPlayListView")->model(); }
    QByteArray Shown() const {
        QByteArray Letters;
        for (const QByteArray &Location : FPage->ShownLocations())
            Letters += Location.at(Location.lastIndexOf('/') + 1);
        return Letters;
    }
    QByteArray Marked() const {
        QByteArray Letters;
        for (int Row = 0; Row < Rows()->rowCount(); ++Row)
            if (Rows()->index(Row, 0).data(TRemotePlayListModel::MarkedRole).toBool())
                Letters += Shown().at(Row);
        return Letters;
    }
    void Select(const QByteArray &Letters) {
        auto *View = Child<QTableView>("FPlayListView");
        View->clearSelection();
        for (const char L : Letters)
            View->selectionModel()->select(Rows()->index(int(Shown().indexOf(L)), 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QByteArray SelectedLetters() const {
        QByteArray Letters;
        auto *View = Child<QTableView>("FPlayListView");
        for (int Row = 0; Row < Rows()->rowCount(); ++Row)
            if (View->selectionModel()->isRowSelected(Row))
                Letters += Shown().at(Row);
        return Letters;
    }
    // A speaker playing the letters' tracks, an observer and a page on it showing them.
    bool Open(const QByteArray &Letters, const QString &Host = QStringLiteral("127.0.0.1")) {
        FSpeaker = std::make_unique<TSpeaker>(
            0, FSharing, std::make_unique<TMediaPlayer>(TMpvOptions{{"ao", "null"}}));
        FSpeaker->Media()->SetVolume(3); // a short quiet start
        FObserver = std::make_unique<TObserver>(FSpeaker->CommandServer()->Port());
        FPage = std::make_unique<TRemotePlayerPage>();
        FPage->show();
        FPage->ConnectTo(Host, FSpeaker->CommandServer()->Port());
        QByteArray Body;
        for (const char L : Letters)
            Body += Url(L) + "\r\n";
        FPage->PostCommand(Letters.isEmpty() ? "GET" : "ADD", Body);
        return QTest::qWaitFor([&] { return Shown() == Letters && Marked() == Letters.left(1); },
                               5000);
    }
    // Sentinel: the page asks for the list and gets it, so the speaker has handled every
    // command the page sent before, and the page every report the speaker sent before.
    bool CaughtUp() {
        QSignalSpy Lists(FPage->Session().Client(), &TCommandClient::ListReceived);
        FPage->PostCommand("GET", "");
        return Lists.wait(5000);
    }
    // A page on a scripted speaker.
    bool OpenScripted(TScriptedSpeaker &Speaker) {
        FPage = std::make_unique<TRemotePlayerPage>();
        FPage->ConnectTo(QStringLiteral("127.0.0.1"), Speaker.Port());
        return Speaker.WaitForPeer();
    }

    void Init() {
        FHttp = new TTestHttpServer;
        QVERIFY(FHttp->Start());
        for (const char L : QByteArray("ABCDE"))
            FHttp->SetFile("/" + QByteArray(1, L) + "%20x.wav", MakeWav(30.0));
    }
    void Cleanup() {
        FPage.reset();
        FObserver.reset();
        FSpeaker.reset();
        delete FHttp;
        FHttp = nullptr;
    }
};
