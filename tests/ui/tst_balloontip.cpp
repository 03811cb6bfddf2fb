#include "BalloonTip.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTest>

class TestBalloonTip : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pointsAtItsTarget_data() {
        QTest::addColumn<QPoint>("Offset"); // from the screen's bottom-right corner when negative
        QTest::newRow("top left") << QPoint(40, 40);
        QTest::newRow("bottom right") << QPoint(-5, -5);
    }

    void pointsAtItsTarget() {
        QFETCH(QPoint, Offset);
        const QRect Area = QGuiApplication::primaryScreen()->availableGeometry();
        const QPoint Target((Offset.x() < 0 ? Area.right() + 1 : Area.left()) + Offset.x(),
                            (Offset.y() < 0 ? Area.bottom() + 1 : Area.top()) + Offset.y());
        ShowBalloonTip(QStringLiteral("Hello"), Target.x(), Target.y(), 5, QString());
        TBalloonTip *Tip = CurrentBalloonTip();
        QVERIFY(Tip && Tip->isVisible());
        QCOMPARE(Tip->StemTip(), Target);
        QVERIFY2(Area.contains(Tip->geometry()), "the balloon stays on the screen");
        Tip->close();
    }

    void newTipReplacesOldAndExpires() {
        ShowBalloonTip(QStringLiteral("first"), 100, 100, 60, QString());
        QPointer<TBalloonTip> First = CurrentBalloonTip();
        QVERIFY(First);
        QCOMPARE(First->Title(), QStringLiteral("Vellox Player"));

        ShowBalloonTip(QStringLiteral("second"), 200, 150, 0, QStringLiteral("Note"));
        QPointer<TBalloonTip> Second = CurrentBalloonTip();
        QVERIFY(Second && Second != First);
        QCOMPARE(Second->Title(), QStringLiteral("Note"));
        QCOMPARE(Second->Text(), QStringLiteral("second"));
        QVERIFY(Second->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(First.isNull(), 2000);

        // Zero seconds: gone almost at once, leaving no balloon.
        QTRY_VERIFY_WITH_TIMEOUT(Second.isNull(), 3000);
        QVERIFY(!CurrentBalloonTip());
    }
};

QTEST_MAIN(TestBalloonTip)
#include "tst_balloontip.moc"
