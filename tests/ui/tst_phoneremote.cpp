#include "PhoneRemoteDialog.h"
#include "QrCode.h"
#include <QLabel>
#include <QtTest>

// The QR code of the web remote's address and the dialog that shows it.
class TestPhoneRemote : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void codeSize_data() {
        QTest::addColumn<QByteArray>("Text");
        QTest::addColumn<int>("Width");
        QTest::newRow("15 digits: 8-bit, level M") << QByteArray("123456789012345") << 25;
        QTest::newRow("address") << QByteArray("http://192.168.1.20:37401/") << 25;
        QTest::newRow("longer address") << QByteArray("http://192.168.10.20:37401/") << 29;
        QTest::newRow("too long") << QByteArray(2332, 'a') << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }

    void codeSize() {
        QFETCH(QByteArray, Text);
        QFETCH(int, Width);
        QCOMPARE(EncodeQrCode(Text).Width, Width);
    }

    // Checked once against a decoder: byte mode, the address, level M, mask 2.
    void codeIsStable() {
        QByteArray Modules;
        for (const bool Dark : EncodeQrCode("http://192.168.1.20:37401/").Dark)
            Modules += Dark ? '#' : '.';
        QCOMPARE(QCryptographicHash::hash(Modules, QCryptographicHash::Sha1).toHex(),
                 "d04a290fcc65ec7fcbd2cd4cf33c518b0d2480b6");
    }

    void dialogShows_data() {
        QTest::addColumn<bool>("On");
        QTest::addColumn<QString>("Address");
        QTest::newRow("on") << true << "http://<b>10.0.0.7</b>:37401/";
        QTest::newRow("off") << false << "";
    }

    void dialogShows() {
        QFETCH(bool, On);
        QFETCH(QString, Address);
        TPhoneRemoteDialog Form("<b>10.0.0.7</b>", 37401, On);
        QCOMPARE(Form.FAddressLabel->text(), Address);
        QCOMPARE(Form.FAddressLabel->textFormat(), Qt::PlainText);
        QCOMPARE(Form.FCodeLabel->pixmap().isNull(), !On);
        QCOMPARE(Form.FHintLabel->text().contains("[Server] WebRemote=1"), !On);
    }
};

QTEST_MAIN(TestPhoneRemote)
#include "tst_phoneremote.moc"
