#include "AudioTypes.h"

#include <QTest>

namespace {

const QByteArray ExpectedFilter =
    "All audio file|*.asf;*.asx;*.wpl;*.wm;*.wx;*.wmd;*.wmz;*.wma;*.wax;*.wav;*.mp3;*.m3u;*.mid;"
    "*.midi;*.rmi;*.aif;*.aifc;*.aiff;*.au;*.snd|Win Media file(asf) "
    "(*.asf;*.asx;*.wpl;*.wm;*.wx;*.wmd;*.wmz)|*.asf;*.asx;*.wpl;*.wm;*.wx;*.wmd;*.wmz|Win Media "
    "audio file(wma) (*.wma;*.wax)|*.wma;*.wax|Win audio file(wav) (*.wav)|*.wav|MP3 audio "
    "file(mp3) (*.mp3;*.m3u)|*.mp3;*.m3u|MIDI file(midi) (*.mid;*.midi;*.rmi)|*.mid;*.midi;*.rmi|"
    "AIFF audio file(aiff) (*.aif;*.aifc;*.aiff)|*.aif;*.aifc;*.aiff|Au audio file(au) "
    "(*.au;*.snd)|*.au;*.snd";
const QByteArray ExpectedExtensions =
    "*.ASF;*.ASX;*.WPL;*.WM;*.WX;*.WMD;*.WMZ;*.WMA;*.WAX;*.WAV;"
    "*.MP3;*.M3U;*.MID;*.MIDI;*.RMI;*.AIF;*.AIFC;*.AIFF;*.AU;*.SND";

} // namespace

class TestAudioTypes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void audioTable() {
        QCOMPARE(AudioExtensionList(), ExpectedExtensions);
        QCOMPARE(AudioFileFilter(), ExpectedFilter);
        QVERIFY(IsAcceptedAudioName("a.mp3"));
        QCOMPARE(
            QtFileFilter(AudioFileFilter()),
            QStringLiteral(
                "All audio file (*.asf *.asx *.wpl *.wm *.wx *.wmd *.wmz *.wma *.wax *.wav "
                "*.mp3 *.m3u *.mid *.midi *.rmi *.aif *.aifc *.aiff *.au *.snd);;"
                "Win Media file(asf) (*.asf *.asx *.wpl *.wm *.wx *.wmd *.wmz);;"
                "Win Media audio file(wma) (*.wma *.wax);;Win audio file(wav) (*.wav);;"
                "MP3 audio file(mp3) (*.mp3 *.m3u);;MIDI file(midi) (*.mid *.midi *.rmi);;"
                "AIFF audio file(aiff) (*.aif *.aifc *.aiff);;Au audio file(au) (*.au *.snd)"));
    }

    void acceptedAudioName_data() {
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<bool>("Accepted");
        QTest::newRow("windows path") << QByteArray("C:\\Music\\Song.MP3") << true;
        QTest::newRow("posix path") << QByteArray("/home/u/Music/song.flac.wav") << true;
        QTest::newRow("midi") << QByteArray("a.midi") << true;
        QTest::newRow("piece of an extension") << QByteArray("a.mp") << true;
        QTest::newRow("wax") << QByteArray("a.wax") << true;
        QTest::newRow("url") << QByteArray("http://h/x/track.Wma") << true;
        QTest::newRow("no extension") << QByteArray("README") << false;
        QTest::newRow("ogg") << QByteArray("a.ogg") << false;
        QTest::newRow("dot before backslash") << QByteArray("C:\\dir.mp3\\file") << false;
        QTest::newRow("dot before slash") << QByteArray("/home/u/dir.mp3/file") << false;
        QTest::newRow("dot before colon") << QByteArray("x.mp3:file") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }

    void acceptedAudioName() {
        QFETCH(QByteArray, Name);
        QFETCH(bool, Accepted);
        QCOMPARE(IsAcceptedAudioName(Name), Accepted);
    }

    // The type goes by the exact extension: a piece of one is accepted but has no type.
    void contentType_data() {
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<QByteArray>("Type");
        QTest::newRow("upper case") << QByteArray("/m/Song.MP3") << QByteArray("audio/mpeg");
        QTest::newRow("last of a group") << QByteArray("a.snd") << QByteArray("audio/basic");
        QTest::newRow("piece of an extension") << QByteArray("a.mp") << QByteArray();
        QTest::newRow("dot before slash") << QByteArray("/m.mp3/a") << QByteArray();
    }

    void contentType() {
        QFETCH(QByteArray, Name);
        QFETCH(QByteArray, Type);
        QCOMPARE(AudioContentType(Name), Type);
    }
};

QTEST_GUILESS_MAIN(TestAudioTypes)
#include "tst_audiotypes.moc"
