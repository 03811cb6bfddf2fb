#include "ServiceAnnouncer.h"

#include <QSignalSpy>
#include <QtTest>

// Without a system bus (no daemon to reach) announcing is harmless: nothing waits, nothing is
// said to be announced, and going away is immediate.
class TestServiceAnnouncer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void withoutDaemon() {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket");
        auto *Announcer = new TServiceAnnouncer;
        QSignalSpy State(Announcer, &TServiceAnnouncer::StateChanged);
        Announcer->Publish("Kitchen",
                           {{"_mpd._tcp", 6600, {}}, {"_vellox._tcp", 37400, {"media=37401"}}});
        Announcer->Publish("Kitchen 2", {{"_mpd._tcp", 6600, {}}});
        // A queued call posted after the announcer's own runs: the loop keeps turning.
        bool Turned = false;
        QMetaObject::invokeMethod(
            this, [&] { Turned = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(Turned);
        QVERIFY(!Announcer->IsAnnounced());
        QVERIFY(State.isEmpty() || !State.last().at(0).toBool());
        delete Announcer;
    }
};

QTEST_GUILESS_MAIN(TestServiceAnnouncer)
#include "tst_serviceannouncer.moc"
