#pragma once

// The scripted speakers the remote pages benchmark runs in its child process: a playing
// speaker that answers "GET" and reports a position every second, and a hostile one that
// floods its one controller in phases.
#include "CommandProtocol.h"
#include "CommandReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>

// The play list a speaker holds: Rows locations, each followed by CR LF; another Generation
// gives other locations.
inline QByteArray BenchList(int Rows, int Generation = 0) {
    QByteArray List;
    const QByteArray Base = "http://192.168.1.20:37401/" + QByteArray::number(Generation) + "/";
    for (int I = 0; I < Rows; ++I)
        List += Base + "Artist " + QByteArray::number(I % 97) + " - Track " +
                QByteArray::number(I) + ".mp3\r\n";
    return List;
}

// One scripted speaker: a list of Rows tracks, playing the first, 200 s long.
class TBenchSpeaker : public QObject {
public:
    explicit TBenchSpeaker(int Rows) : FRows(Rows), FList(BenchList(Rows)) {
        FServer.listen(QHostAddress::LocalHost, 0);
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *Socket = FServer.nextPendingConnection())
                Accept(Socket);
        });
        connect(&FTick, &QTimer::timeout, this, &TBenchSpeaker::ReportPosition);
        FTick.start(1000);
    }
    quint16 Port() const { return FServer.serverPort(); }

private:
    void Accept(QTcpSocket *Socket) {
        auto Reader = std::make_shared<TCommandReader>(SpeakerCommands());
        connect(Socket, &QTcpSocket::readyRead, this, [this, Socket, Reader] {
            Reader->Feed(Socket->readAll(), 0);
            while (std::optional<TCommandMessage> M = Reader->Next()) {
                if (M->Word != "GET")
                    continue;
                // Every other answer brings a list of new locations.
                if (++FGets % 2 == 0)
                    FList = BenchList(FRows, FGets / 2);
                Socket->write(
                    BuildMessage("LIST", FList) +
                    BuildMessage("URL", FList.left(FList.indexOf('\r')).replace(" ", "%20")));
            }
        });
        connect(Socket, &QTcpSocket::disconnected, this, [this, Socket] {
            FSockets.removeOne(Socket);
            Socket->deleteLater();
        });
        Socket->write(BuildMessage("MUTE", "0") + BuildMessage("VOLUMN", "40") +
                      BuildMessage("STATE", "3"));
        FSockets.append(Socket);
    }
    void ReportPosition() {
        ++FSeconds;
        QByteArray Lines = "200.00\n" + QByteArray::number(FSeconds % 200) + ".00\n" +
                           QByteArray::number(FSeconds / 60 % 60).rightJustified(2, '0') + ":" +
                           QByteArray::number(FSeconds % 60).rightJustified(2, '0');
        if (FSeconds % 4 == 0)
            Lines += "\nMusic: Track 0";
        const QByteArray Message = BuildMessage("POSITION", Lines);
        for (QTcpSocket *Socket : std::as_const(FSockets))
            Socket->write(Message);
    }

    QTcpServer FServer;
    QTimer FTick;
    QList<QTcpSocket *> FSockets;
    const int FRows;
    QByteArray FList;
    int FGets = 0;
    int FSeconds = 0;
};

// The hostile speaker's phases.
constexpr int HostileRows = 100000;
constexpr qint64 ListTraffic = 32 * 1024 * 1024;
constexpr int FloodMs = 5000;
constexpr int CycleMs = 10000;
constexpr qint64 FloodBacklog = 1024 * 1024;
constexpr qint64 ListBacklog = ListTraffic; // all of it at once
const char *const PhaseNames[] = {"STATE/MUTE flood, 5 s", "32 MB of LIST traffic",
                                  "100000-row lists of new URLs every 500 ms, 10 s"};
constexpr int PhaseCount = 3;

// One controller at a time; says on stdout when a phase begins ("phase N") and ends ("end").
class THostileSpeaker : public QObject {
public:
    THostileSpeaker() {
        FServer.listen(QHostAddress::LocalHost, 0);
        connect(&FServer, &QTcpServer::newConnection, this, [this] {
            FPeer = FServer.nextPendingConnection();
            connect(FPeer, &QTcpSocket::bytesWritten, this, &THostileSpeaker::Pump);
            connect(FPeer, &QTcpSocket::disconnected, qApp, &QCoreApplication::quit);
            for (int I = 0; I < 6554; ++I)
                FStates += I % 3 ? (I % 2 ? "STATE\r\n3\r\n" : "STATE\r\n2\r\n") : "MUTE\r\n0\r\n";
            Begin(0);
            connect(&FTick, &QTimer::timeout, this, &THostileSpeaker::Pump);
            FTick.start(5);
        });
    }
    quint16 Port() const { return FServer.serverPort(); }

private:
    void Begin(int Phase) {
        FPhase = Phase;
        FClock.start();
        std::printf(Phase < PhaseCount ? "phase %d\n" : "end\n", Phase);
        std::fflush(stdout);
    }
    QByteArray NewList() { return BuildMessage("LIST", BenchList(HostileRows, ++FGeneration)); }
    void Pump() {
        if (!FPeer)
            return;
        switch (FPhase) {
        case 0:
            while (FPeer->bytesToWrite() < FloodBacklog)
                FPeer->write(FStates);
            if (FClock.elapsed() >= FloodMs)
                Begin(1);
            break;
        case 1:
            while (FSent < ListTraffic && FPeer->bytesToWrite() < ListBacklog) {
                const QByteArray List = NewList();
                FSent += List.size();
                FPeer->write(List);
            }
            if (FSent >= ListTraffic && FPeer->bytesToWrite() == 0)
                Begin(2);
            break;
        case 2:
            if (FClock.elapsed() >= CycleMs) {
                Begin(3);
                FTick.stop();
            } else if (FClock.elapsed() >= FNextList) {
                FNextList += 500;
                QByteArray List = NewList();
                List += BuildMessage("URL", List.mid(List.indexOf("http"), 40));
                FPeer->write(List);
            }
            break;
        default:
            break;
        }
    }

    QTcpServer FServer;
    QTcpSocket *FPeer = nullptr;
    QTimer FTick;
    QElapsedTimer FClock;
    QByteArray FStates;
    int FPhase = 0;
    int FGeneration = 0;
    qint64 FSent = 0;
    qint64 FNextList = 0;
};
