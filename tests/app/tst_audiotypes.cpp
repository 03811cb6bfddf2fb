#include "AudioTypes.h"

#include <QTest>

class TestAudioTypes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The first choice holds every pattern of the choices after it.
    void allAudioFirst() {
        const QStringList Filters = QtFileFilter(AudioFileFilter()).split(QStringLiteral(";;"));
        QVERIFY(Filters.first().startsWith(QStringLiteral("All audio file (")));
        for (const QString &Filter : Filters.mid(1)) {
            const QString Patterns = Filter.section(u'(', -1).chopped(1);
            for (const QString &Pattern : Patterns.split(u' '))
                QVERIFY2(Filters.first().contains(Pattern + u' ') ||
                             Filters.first().contains(Pattern + u')'),
                         qPrintable(Pattern));
        }
        QVERIFY(AudioExtensionList().split(';').contains("*.FLAC"));
    }

    void acceptedAudioName_data() {
        QTest::addColumn<QByteArray>("Name");
        QTest::addColumn<bool>("Accepted");
        QTest::newRow("windows path") << QByteArray("C:\\Music\\Song.MP3") << true;
        QTest::newRow("posix path") << QByteArray("/home/u/Music/song.flac.wav") << true;
        QTest::newRow("midi") << QByteArray("a.midi") << true;
        QTest::newRow("piece of an extension") << QByteArray("a.mp") << false;
        QTest::newRow("piece of another") << QByteArray("a.W") << false;
        QTest::newRow("longer than one") << QByteArray("a.mp33") << false;
        QTest::newRow("a dot alone") << QByteArray("a.") << false;
        QTest::newRow("wax") << QByteArray("a.wax") << true;
        QTest::newRow("url") << QByteArray("http://h/x/track.Wma") << true;
        QTest::newRow("no extension") << QByteArray("README") << false;
        QTest::newRow("text") << QByteArray("a.txt") << false;
        for (const char *Ext : {"flac", "ogg", "OGA", "opus", "m4a", "m4b", "mp4", "aac", "alac",
                                "wv", "ape", "mpc", "mka", "webm", "aiff", "wav", "mp3", "wma"})
            QTest::newRow(Ext) << "/m/song." + QByteArray(Ext) << true;
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
