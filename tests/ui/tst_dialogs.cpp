#include "AboutDialog.h"
#include "SelectComputerDialog.h"
#include "Settings.h"

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
        TSelectComputerDialog Form;
        Form.SetComputers({"My Computer", "192.168.1.20", "studio"}, "kitchen");
        Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form));

        QTest::mouseClick(Form.FOKButton, Qt::LeftButton);
        QVERIFY(Form.isVisible());
        QCOMPARE(Form.result(), int(QDialog::Rejected));
        // Empty space below the entries: nothing happens.
        DoubleClick(Form.FComputerList, QPoint(20, Form.FComputerList->viewport()->height() - 5));
        QVERIFY(Form.isVisible());
        QCOMPARE(Form.SelectedComputer(), QString());

        const QRect Second = Form.FComputerList->visualItemRect(Form.FComputerList->item(1));
        DoubleClick(Form.FComputerList, Second.center());
        QVERIFY(!Form.isVisible());
        QCOMPARE(Form.result(), int(QDialog::Accepted));
        QCOMPARE(Form.SelectedComputer(), "192.168.1.20");
    }

    void selComputerPreselects_data() {
        QTest::addColumn<QString>("Shown");
        QTest::addColumn<QString>("Expected");
        for (const auto &[Shown, Expected] :
             {std::pair{" mycomputer", "My Computer"}, {"STUDIO", "studio"}, {"kitchen", ""}})
            QTest::newRow(Shown) << QString(Shown) << QString(Expected);
    }

    void selComputerPreselects() {
        QFETCH(QString, Shown);
        QFETCH(QString, Expected);
        TSelectComputerDialog Form;
        Form.SetComputers({"My Computer", "192.168.1.20", "studio"}, Shown);
        QCOMPARE(Form.SelectedComputer(), Expected);
        Form.AcceptInput();
        QCOMPARE(Form.result(), int(Expected.isEmpty() ? QDialog::Rejected : QDialog::Accepted));
    }

    void aboutShowsVersionAndSite() {
        LoadSettings();
        TAboutDialog Form;
        QCOMPARE(Form.FProductLabel->text(), "Vellox Player 1.1.0.112");
        QCOMPARE(Form.FWebSiteLink->text(), GetWebSiteURL());
        QCOMPARE(Form.FWebSiteLink->Target(), GetWebSiteURL());
        QCOMPARE(Form.FEmblem->pixmap().size(), QSize(48, 48));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
