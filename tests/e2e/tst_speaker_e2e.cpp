#include "CommandProtocol.h"
#include "CommandReader.h"
#include "CommandServer.h"
#include "MediaPlayer.h"
#include "MessageText.h"
#include "PlaybackEngine.h"
#include "SharingState.h"
#include "Speaker.h"
#include "TestController.h"
#include "TestHttpServer.h"
#include "TestMedia.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const TMpvOptions Timed = {{"ao", "null"}};
const TMpvOptions Untimed = {{"ao", "null"}, {"ao-null-untimed", "yes"}};

using TController = TTestController;

std::unique_ptr<TSpeaker> MakeSpeaker(const TMpvOptions &Options) {
    static TSharingState Sharing;
    return std::make_unique<TSpeaker>(0, Sharing, std::make_unique<TMediaPlayer>(Options));
}

} // namespace

class TstSpeakerE2E : public QObject {
    Q_OBJECT
private:
    TTestHttpServer *FHttp = nullptr;

private Q_SLOTS:
    void init() {
        FHttp = new TTestHttpServer(this);
        QVERIFY(FHttp->Start());
        FHttp->SetFile("/a.wav", MakeWav(6.0, 8000, "Alpha", "Band"));
        FHttp->SetFile("/b.wav", MakeWav(2.0, 8000, "Beta"));
        FHttp->SetFile("/long1.wav", MakeWav(30.0));
        FHttp->SetFile("/long2.wav", MakeWav(30.0));
        FHttp->SetFile("/short.wav", MakeWav(1.0));
        FHttp->SetRefused("/refused.wav");
    }
    void cleanup() {
        delete FHttp;
        FHttp = nullptr;
    }

    void workedExchange() {
        auto Speaker = MakeSpeaker(Timed);
        QVERIFY(Speaker->IsListening());
        Speaker->Media()->SetVolume(6);
        QTRY_COMPARE(Speaker->Engine()->LastVolume(), 6); // reported to nobody yet

        QSignalSpy Shown(Speaker.get(), &TSpeaker::ShowRequested);
        TController C(Speaker->CommandServer()->Port());
        QVERIFY(C.Connected());
        QTRY_COMPARE(C.Got.size(), 3);
        QCOMPARE(C.Got, QByteArrayList({"MUTE / 0", "VOLUMN / 6", "STATE / 0"}));
        QCOMPARE(Shown.count(), 1);
        QVERIFY(Speaker->TakeShowRequest());

        const QByteArray A = FHttp->Url("/a.wav"), B = FHttp->Url("/b.wav");
        C.Send("ADD", {A, B});
        const qsizetype List = C.WaitFor("LIST", 3, 2000);
        QVERIFY(List >= 0);
        QCOMPARE(C.Got[List], "LIST / " + A + " / " + B);
        const qsizetype UrlA = C.WaitFor("URL / " + A, List);
        QVERIFY(UrlA > List);
        // Quiet start: 1 before playing, then one step per tick up to the volume it had.
        const qsizetype Playing = C.WaitFor("STATE / 3", UrlA);
        QVERIFY(Playing > UrlA);
        QCOMPARE(C.Got[Playing - 1], QByteArray("VOLUMN / 1"));
        QVERIFY(C.WaitFor("VOLUMN / 6", Playing, 3000) > 0);
        QCOMPARE(C.Find("VOLUMN / 3", Playing) < C.Find("VOLUMN / 4", Playing), true);

        // Reports about once a second, the information line on every fourth tick at most.
        const auto Reports = [&](int Lines, const QByteArray &Ending) {
            return QTest::qWaitFor(
                [&] {
                    for (const QByteArray &M : C.Got)
                        if (M.startsWith("POSITION / 6.00 / ") && M.count(" / ") == Lines &&
                            M.endsWith(Ending))
                            return true;
                    return false;
                },
                6000);
        };
        QVERIFY(Reports(3, ""));
        QVERIFY(Reports(4, " / Music: Alpha"));

        C.Send("VOLUMN", {"60"});
        QVERIFY(C.WaitFor("VOLUMN / 60", Playing, 2000) > 0);

        const qsizetype UrlB = C.WaitFor("URL / " + B, Playing, 8000);
        QVERIFY(UrlB > 0);
        // B follows A without a gap: no end, stop or new start between them, and B's position
        // is reported.
        QCOMPARE(C.Find("STATE / ", Playing + 1), -1);
        QVERIFY(C.WaitFor("POSITION / ", UrlB, 5000) > UrlB);
    }

    void oneRowRepeats() {
        auto Speaker = MakeSpeaker(Untimed);
        TController C(Speaker->CommandServer()->Port());
        QVERIFY(C.Connected());
        const QByteArray S = FHttp->Url("/short.wav");
        C.Send("ADD", {S});
        const qsizetype First = C.WaitFor("URL / " + S);
        QVERIFY(First > 0);
        QVERIFY(C.WaitFor("URL / " + S, First + 1) > First);
    }

    void transportAndSeek() {
        auto Speaker = MakeSpeaker(Timed);
        TController C(Speaker->CommandServer()->Port());
        QVERIFY(C.Connected());
        const QByteArray L1 = FHttp->Url("/long1.wav"), L2 = FHttp->Url("/long2.wav");
        C.Send("ADD", {L1, L2});
        QVERIFY(C.WaitFor("STATE / 3") > 0);

        // Another letter case picks the row; a stop on the last row starts the first.
        C.Send("URL", {L2.toUpper()});
        const qsizetype Second = C.WaitFor("URL / " + L2);
        QVERIFY(Second > 0);
        QVERIFY(C.WaitFor("STATE / 3", Second) > Second);
        C.Send("STATE", {"1"});
        const qsizetype Back = C.WaitFor("URL / " + L1, Second);
        QVERIFY(Back > Second);
        const qsizetype Play = C.WaitFor("STATE / 3", Back);
        QVERIFY(Play > Back);

        C.Send("UPDATEPOSITION", {"50"});
        QVERIFY(QTest::qWaitFor([&] { return Speaker->Media()->CurrentPosition() >= 14.9; }, 5000));
        // The first report after the seek comes within a tick of 15 s (the position timer
        // sleeps while the seek buffers, so it may already read 16).
        const qsizetype Report = C.WaitFor("POSITION / 30.00 / ", Play, 5000);
        QVERIFY(Report > 0);
        const double At = C.Got[Report].split('/').value(2).trimmed().toDouble();
        QVERIFY2(At >= 14.9 && At < 17.0, C.Got[Report].constData());
    }

    void updateListSkipsTheSendersAddress() {
        auto Speaker = MakeSpeaker(Timed);
        const quint16 Port = Speaker->CommandServer()->Port();
        TController Sender(Port), SameHost(Port), Other(Port, "127.0.0.2");
        for (TController *C : {&Sender, &SameHost, &Other})
            QVERIFY(C->Connected());
        const QByteArray L1 = FHttp->Url("/long1.wav"), L2 = FHttp->Url("/long2.wav");
        Sender.Send("ADD", {L1});
        QVERIFY(Other.WaitFor("STATE / 3") > 0);
        const qsizetype Mark = Other.Got.size();
        const qsizetype MarkSame = SameHost.Got.size();
        Sender.Send("UPDATELIST", {L2, L1});
        QVERIFY(Other.WaitFor("LIST / " + L2 + " / " + L1, Mark, 2000) >= 0);
        QVERIFY(Other.WaitFor("URL / " + L1, Mark, 2000) >= 0);
        QVERIFY(SameHost.WaitFor("URL / " + L1, MarkSame, 2000) >= 0);
        QCOMPARE(SameHost.Find("LIST", MarkSame), -1);
        QCOMPARE(Sender.Find("LIST / " + L2), -1);
        QCOMPARE(Speaker->Engine()->GetCurrentIndex(), 1);
    }

    void unplayableRowsAreSkipped() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        const QString Local = Dir.filePath(QStringLiteral("local.wav"));
        QVERIFY(WriteWav(Local, 1.0));
        auto Speaker = MakeSpeaker(Untimed);
        TController C(Speaker->CommandServer()->Port());
        QVERIFY(C.Connected());
        const QByteArray Good = FHttp->Url("/short.wav");
        const QByteArray Wrapped = "lavf://" + FHttp->Url("/wrapped.wav");
        C.Send("ADD", {"file://" + Local.toUtf8(), FHttp->Url("/missing.wav"),
                       FHttp->Url("/refused.wav"), Wrapped, Good});
        QVERIFY(C.WaitFor("URL / " + FHttp->Url("/missing.wav")) > 0);
        QVERIFY(C.WaitFor("URL / " + Good, 0, 15000) > 0);
        QVERIFY(C.Find("URL / file:") < 0);
        QVERIFY(C.Find("URL / lavf:") < 0);
        for (const QByteArray &Request : FHttp->Requests())
            QVERIFY2(!Request.contains("wrapped"), Request.constData());
    }
};

QTEST_MAIN(TstSpeakerE2E)
#include "tst_speaker_e2e.moc"
