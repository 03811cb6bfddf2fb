#include "../player/FakeMedia.h"
#include "RoomSync.h"
#include "StartTimer.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

constexpr qint64 Ms = 1'000'000;

// A player whose position runs on the test's clock, Drift off normal speed.
class TScriptedPlayer : public TFakeMedia {
public:
    std::function<qint64()> Clock;
    double Drift = 1;
    QList<double> Loads; // where LoadPaused put the track
    qint64 PlayedAt = -1;
    double From = 0, Speed = 1;
    mutable double Glitch = 0; // added to the next reading only
    mutable int Reads = 0;

    void LoadPaused(const QByteArray &URL, double At) override {
        Loads.append(At);
        LoadedURL = URL;
        Loaded = true;
        Position = At;
        PlayedAt = -1;
        Enter(9);
        QTimer::singleShot(1, this, [this] { Enter(2); });
    }
    void Play() override {
        PlayedAt = Clock();
        From = Position;
        TFakeMedia::Play();
    }
    void Pause() override {
        Position = Pts().value_or(Position);
        PlayedAt = -1;
        TFakeMedia::Pause();
    }
    void SetSpeed(double Value) override {
        if (PlayedAt >= 0)
            From = *Pts(), PlayedAt = Clock();
        Speed = Value;
    }
    // Goes on into the queued track, its position from where the track playing ends.
    void Join() {
        From = *Pts() - Length;
        PlayedAt = Clock();
        JoinNext();
    }
    std::optional<double> AudioPts() const override {
        ++Reads;
        return Pts();
    }
    std::optional<double> Pts() const {
        if (PlayedAt < 0)
            return std::nullopt;
        return From + double(Clock() - PlayedAt) / 1e9 * Speed * Drift + std::exchange(Glitch, 0);
    }
};

} // namespace

class TestRoomSync : public QObject {
    Q_OBJECT

    qint64 FSkew = 0; // jumps the clock ahead, as if the room played on meanwhile
    TScriptedPlayer *FPlayer = nullptr;
    std::unique_ptr<TRoomSync> FRoom;
    TGroupClock FGroupClock; // 5 s ahead of this computer's

    qint64 Now() const { return MonotonicNow() + FSkew; }
    void MakeRoom(qint64 StartFault = 0) {
        auto Player = std::make_unique<TScriptedPlayer>();
        Player->Clock = [this] { return Now(); };
        FPlayer = Player.get();
        TRoomSync::TConfig Config;
        Config.LeadTime = 100 * Ms;
        Config.ResumeLeadTime = 50 * Ms;
        Config.ReadIntervalMs = 10;
        Config.StartFault = StartFault;
        FRoom = std::make_unique<TRoomSync>(
            std::move(Player), [this] { return Now(); }, Config, nullptr);
    }
    // A follower of an anchor playing Position at group time In from now.
    TGroupAnchor FollowPlaying(double Position, qint64 In) {
        FRoom->SetRole(TRoomRole::Follower);
        FRoom->SetClock(&FGroupClock);
        const TGroupAnchor Anchor{1, "http://a/x.wav", TGroupPlay::Playing, Position,
                                  FGroupClock.ToGroup(Now()) + In};
        FRoom->Follow(Anchor);
        return Anchor;
    }
    // How far the room is ahead of the anchor line, in seconds.
    // Local: the room's own clock is the group's (a leader).
    double Error(const TGroupAnchor &Anchor, int LatencyMs = 0, bool Local = false) const {
        const qint64 GroupNow = Local ? Now() : FGroupClock.ToGroup(Now());
        const double Line =
            Anchor.Position + double(GroupNow - Anchor.GroupTime + LatencyMs * Ms) / 1e9;
        return *FPlayer->Pts() - Line;
    }

private Q_SLOTS:
    void initTestCase() {
        for (qint64 T = 0; T < 8; ++T)
            QVERIFY(
                FGroupClock.AddExchange({T * Ms, T * Ms + 5000 * Ms, T * Ms + 5000 * Ms, T * Ms}));
        QVERIFY(FGroupClock.IsSynced());
    }

    void startsOnTheAnchorLine_data() {
        QTest::addColumn<qint64>("in");
        QTest::addColumn<int>("latencyMs");
        QTest::newRow("ahead") << 150 * Ms << 0;
        QTest::newRow("latency") << 150 * Ms << 60;
        QTest::newRow("already playing") << -2000 * Ms << 0;
    }

    // Loaded paused, then started at the moment its load position is due.
    void startsOnTheAnchorLine() {
        QFETCH(qint64, in);
        QFETCH(int, latencyMs);
        MakeRoom();
        FRoom->SetLatencyMs(latencyMs);
        const TGroupAnchor Anchor = FollowPlaying(10, in);
        QTRY_VERIFY(FPlayer->PlayedAt >= 0);
        QCOMPARE(FPlayer->Loads.size(), 1);
        QVERIFY(in < 0 ? FPlayer->Loads[0] > 12 : FPlayer->Loads[0] == 10);
        const qint64 Due = FGroupClock.ToLocal(
            Anchor.GroupTime + qint64((FPlayer->Loads[0] - 10) * 1e9) - latencyMs * Ms);
        QVERIFY(FPlayer->PlayedAt >= Due);
        QVERIFY(std::abs(Error(Anchor, latencyMs)) < 0.020); // no re-anchor needed
    }

    // A start 350 ms late is re-anchored once settled; one wild reading changes nothing.
    void lateStartCorrectedGlitchIgnored() {
        MakeRoom(350 * Ms);
        FPlayer->Drift = 1.0002;
        const TGroupAnchor Anchor = FollowPlaying(0, 50 * Ms);
        QTRY_VERIFY(FPlayer->PlayedAt >= 0);
        QVERIFY(Error(Anchor) < -0.3);
        FSkew += 3500 * Ms; // settled
        QTRY_COMPARE(FPlayer->Loads.size(), 2);
        QTRY_VERIFY(FPlayer->PlayedAt >= 0);
        QVERIFY(std::abs(Error(Anchor)) < 0.020);
        FSkew += 3500 * Ms;
        FPlayer->Glitch = 0.5;
        const int Reads = FPlayer->Reads;
        QTRY_VERIFY(FPlayer->Reads > Reads + 30);
        QCOMPARE(FPlayer->Loads.size(), 2);
        QVERIFY(FPlayer->Speed != 1); // trimming the drift
    }

    // At a join without a stop the line goes on into the next track: every room crosses on its
    // own, adopts the leader's anchor for it (before or after) without a reload, and corrects on.
    void joinKeepsTheLine_data() {
        QTest::addColumn<QString>("room");
        QTest::newRow("leader") << "leader";
        QTest::newRow("follower, anchor first") << "anchor first";
        QTest::newRow("follower, join first") << "join first";
    }
    void joinKeepsTheLine() {
        QFETCH(QString, room);
        MakeRoom();
        FPlayer->Length = 0.5;
        FPlayer->Drift = 1.0002;
        QSignalSpy Anchors(FRoom.get(), &TRoomSync::AnchorChanged);
        TGroupAnchor First;
        if (room == "leader") {
            FRoom->SetRole(TRoomRole::Leader);
            FRoom->SetURL("http://a/x.wav");
            QTRY_VERIFY(FPlayer->PlayedAt >= 0);
            First = FRoom->Anchor();
        } else {
            First = FollowPlaying(0, 50 * Ms);
        }
        FRoom->SetNextURL("http://a/y.wav");
        QCOMPARE(FPlayer->NextURL, "http://a/y.wav");
        QTRY_VERIFY(FPlayer->Reads > 3); // the track's length is known
        const TGroupAnchor Joined{First.Serial + 1, "http://a/y.wav", TGroupPlay::Playing, 0,
                                  First.GroupTime + 500 * Ms};
        if (room == "anchor first")
            FRoom->Follow(Joined);
        FPlayer->Join();
        if (room == "join first")
            FRoom->Follow(Joined);
        QCOMPARE(FRoom->Anchor(), Joined);
        QCOMPARE(Anchors.size(), room == "leader" ? 3 : 0); // stopped on leading, x, y
        FSkew += 3500 * Ms;                                 // settled
        const int Reads = FPlayer->Reads;
        QTRY_VERIFY(FPlayer->Reads > Reads + 30);
        QCOMPARE(FPlayer->Loads.size(), 1);
        QVERIFY(std::abs(Error(Joined, 0, room == "leader")) < 0.020);
        QVERIFY(FPlayer->Speed != 1); // trimming the drift still
    }

    void leaderTurnsCallsIntoAnchors_data() {
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("play"); // TGroupPlay of the last anchor
        QTest::addColumn<double>("position");
        QTest::addColumn<int>("loads");
        QTest::newRow("track") << QStringList{"url"} << 2 << 0.0 << 1;
        QTest::newRow("seek") << QStringList{"url", "seek"} << 2 << 30.0 << 2;
        QTest::newRow("pause, seek") << QStringList{"url", "pause", "seek"} << 1 << 30.0 << 1;
        QTest::newRow("resume: no reload")
            << QStringList{"url", "pause", "seek", "play"} << 2 << 30.0 << 1;
        QTest::newRow("stop") << QStringList{"url", "stop"} << 0 << 0.0 << 1;
    }

    // Each call of the engine publishes one anchor, which the leader's room plays too.
    void leaderTurnsCallsIntoAnchors() {
        QFETCH(QStringList, calls);
        QFETCH(int, play);
        QFETCH(double, position);
        QFETCH(int, loads);
        MakeRoom();
        FRoom->SetRole(TRoomRole::Leader);
        QSignalSpy Anchors(FRoom.get(), &TRoomSync::AnchorChanged);
        for (const QString &Call : calls) {
            if (Call == "url")
                FRoom->SetURL("http://a/x.wav");
            else if (Call == "seek")
                FRoom->SetCurrentPosition(30);
            else if (Call == "pause")
                FRoom->Pause();
            else if (Call == "play")
                FRoom->Play();
            else
                FRoom->Stop();
            QTRY_VERIFY(FPlayer->PlayedAt >= 0 || FRoom->Anchor().Play != TGroupPlay::Playing);
        }
        QCOMPARE(Anchors.size(), calls.size());
        QCOMPARE(FRoom->Anchor().Serial, quint32(calls.size() + 1)); // 1: stopped, on leading
        QCOMPARE(int(FRoom->Anchor().Play), play);
        QCOMPARE(FRoom->Anchor().Position, position);
        QCOMPARE(FPlayer->Loads.size(), loads);
        QCOMPARE(FPlayer->State, play == 2 ? 3 : play == 1 ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TestRoomSync)
#include "tst_roomsync.moc"
