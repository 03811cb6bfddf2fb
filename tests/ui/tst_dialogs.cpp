#include "About.h"
#include "SelComputerForm.h"
#include "Utils.h"

#include <QListWidget>
#include <QPushButton>
#include <QtTest>

// The computer selection dialog and the about box.
class TestDialogs : public QObject {
    Q_OBJECT

    // A real double click: the press the view sees before the double-click event.
    static void DoubleClick(QListWidget *List, const QPoint &At) {
        QTest::mousePress(List->viewport(), Qt::LeftButton, Qt::NoModifier, At);
        QTest::mouseRelease(List->viewport(), Qt::LeftButton, Qt::NoModifier, At);
        QTest::mouseDClick(List->viewport(), Qt::LeftButton, Qt::NoModifier, At);
    }

private Q_SLOTS:
    void selComputerNeedsASelection() {
        TFormSelComputer Form;
        Form.SetComputers({"My Computer", "192.168.1.20", "studio"}, -1);
        Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form));

        QTest::mouseClick(Form.ButtonOK, Qt::LeftButton);
        QVERIFY(Form.isVisible());
        QCOMPARE(Form.result(), int(QDialog::Rejected));
        // Empty space below the entries: nothing happens.
        DoubleClick(Form.suiListBox1, QPoint(20, Form.suiListBox1->viewport()->height() - 5));
        QVERIFY(Form.isVisible());
        QCOMPARE(Form.SelectedComputer(), QString());

        const QRect Second = Form.suiListBox1->visualItemRect(Form.suiListBox1->item(1));
        DoubleClick(Form.suiListBox1, Second.center());
        QVERIFY(!Form.isVisible());
        QCOMPARE(Form.result(), int(QDialog::Accepted));
        QCOMPARE(Form.SelectedComputer(), "192.168.1.20");
    }

    void selComputerPreselects_data() {
        QTest::addColumn<int>("Index");
        QTest::addColumn<QString>("Expected");
        QTest::newRow("first") << 0 << "My Computer";
        QTest::newRow("last") << 2 << "studio";
        QTest::newRow("out of range") << 3 << "";
    }

    void selComputerPreselects() {
        QFETCH(int, Index);
        QFETCH(QString, Expected);
        TFormSelComputer Form;
        Form.SetComputers({"My Computer", "192.168.1.20", "studio"}, Index);
        QCOMPARE(Form.SelectedComputer(), Expected);
        Form.suiButtonOKClick();
        QCOMPARE(Form.result(), int(Expected.isEmpty() ? QDialog::Rejected : QDialog::Accepted));
    }

    void aboutShowsVersionAndSite() {
        LoadSettings();
        TFormAbout Form;
        QCOMPARE(Form.LblProductName->text(), "Vellox Player 1.1.0.112");
        QCOMPARE(Form.suiURL->text(), TUtils::GetWebSiteURL());
        QCOMPARE(Form.suiURL->Target(), TUtils::GetWebSiteURL());
        QCOMPARE(Form.Image1->pixmap().size(), QSize(48, 48));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
