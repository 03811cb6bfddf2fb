#include "MpvOptions.h"

#include <QTest>

class TestMpvOptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArrayList>("kept"); // "key=value" each
        QTest::addColumn<int>("problems");

        const QByteArrayList None, Null{"ao=null"};
        QTest::newRow("a fast null card") << QByteArray(" ao=null, ao-null-speed=1.0002,")
                                          << QByteArrayList{"ao=null", "ao-null-speed=1.0002"} << 0;
        QTest::newRow("output tuning")
            << QByteArray("ao=pulse,audio-device=pulse/x,gapless-audio=weak")
            << QByteArrayList{"ao=pulse", "audio-device=pulse/x", "gapless-audio=weak"} << 0;
        // Each would have mpv read or write a file, run something or go elsewhere.
        const QByteArrayList Refused =
            QByteArray(
                "stream-dump=/tmp/x,ao=pcm,ao-pcm-file=/tmp/x,ao=lavc,audio-device=pcm/x,"
                "af=lavfi=[anull],lavfi-complex=amovie=/etc/passwd,audio-files=/a.wav,"
                "audio-file=/a.wav,external-files=/a.wav,http-proxy=http://h:1,"
                "demuxer-cache-dir=/tmp,cache-on-disk=yes,script=/x.lua,include=/x.conf,o=/x.wav,"
                "start=20,no-gapless-audio=yes")
                .split(',');
        for (const QByteArray &Option : Refused)
            QTest::newRow(Option.constData()) << Option << None << 1;
        QTest::newRow("base option") << QByteArray("config=yes,ao=null") << Null << 1;
        QTest::newRow("base option negated") << QByteArray("no-ytdl=no") << None << 1;
        QTest::newRow("protocols appended") << QByteArray("stream-lavf-o-append=a=b") << None << 1;
        QTest::newRow("option families")
            << QByteArray("scripts=a,script-opts=x=1,input-ipc-server=b") << None << 3;
        QTest::newRow("volume belongs to the player") << QByteArray("volume=100") << None << 1;
        QTest::newRow("no value") << QByteArray("ao") << None << 1;
        QTest::newRow("no key") << QByteArray("=null") << None << 1;
        QTest::newRow("command-line dashes") << QByteArray("--ao=null") << None << 1;
        QTest::newRow("control character") << QByteArray("ao=nu\x01ll,ao=null") << Null << 1;
        QTest::newRow("too long") << QByteArray(5000, 'a') << None << 1;
    }

    void parse() {
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
};

QTEST_APPLESS_MAIN(TestMpvOptions)
#include "tst_mpvoptions.moc"
