#include "MpvOptions.h"

#include <QTest>

class TestMpvOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
};

void TestMpvOptions::parse_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArrayList>("kept"); // "key=value" each
    QTest::addColumn<int>("problems");

    const QByteArrayList None;
    QTest::newRow("empty") << QByteArray() << None << 0;
    QTest::newRow("a fast null card") << QByteArray(" ao=null, ao-null-speed=1.0002,")
                                      << QByteArrayList{"ao=null", "ao-null-speed=1.0002"} << 0;
    QTest::newRow("an output device")
        << QByteArray("audio-device=pulse/alsa_output.pci-0000_00_1f.3.analog-stereo")
        << QByteArrayList{"audio-device=pulse/alsa_output.pci-0000_00_1f.3.analog-stereo"} << 0;
    QTest::newRow("base option") << QByteArray("config=yes,ao=null") << QByteArrayList{"ao=null"}
                                 << 1;
    QTest::newRow("base option by its negation") << QByteArray("no-ytdl=no") << None << 1;
    QTest::newRow("protocol list appended")
        << QByteArray("stream-lavf-o-append=protocol_whitelist=file") << None << 1;
    QTest::newRow("lavf demuxer protocols")
        << QByteArray("demuxer-lavf-o=protocol_whitelist=file") << None << 1;
    QTest::newRow("scripts") << QByteArray("scripts=/tmp/a.lua,script-opts=x=1") << None << 2;
    QTest::newRow("an ipc socket") << QByteArray("input-ipc-server=/tmp/mpv") << None << 1;
    QTest::newRow("a config file included") << QByteArray("include=/tmp/mpv.conf") << None << 1;
    QTest::newRow("volume belongs to the player") << QByteArray("volume=100") << None << 1;
    QTest::newRow("no value") << QByteArray("ao") << None << 1;
    QTest::newRow("no key") << QByteArray("=null") << None << 1;
    QTest::newRow("upper case key") << QByteArray("AO=null") << None << 1;
    QTest::newRow("command-line dashes") << QByteArray("--ao=null") << None << 1;
    QTest::newRow("control character")
        << QByteArray("ao=nu\x01ll,ao=null") << QByteArrayList{"ao=null"} << 1;
    QTest::newRow("too long") << QByteArray(5000, 'a') << None << 1;
}

void TestMpvOptions::parse() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArrayList, kept);
    QFETCH(int, problems);
    const TUserMpvOptions Parsed = ParseMpvOptions(text);
    QByteArrayList Got;
    for (const auto &[Key, Value] : Parsed.Options)
        Got.append(Key + '=' + Value);
    QCOMPARE(Got, kept);
    QCOMPARE(Parsed.Problems.size(), problems);
}

QTEST_APPLESS_MAIN(TestMpvOptions)
#include "tst_mpvoptions.moc"
