// A speaker's name from outside, made plain text.
#include "SpeakerName.h"

#include <QtTest>

class TstSpeakerName : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleans_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("shown");
        const QString Max(MaxSpeakerNameChars, u'k');
        const auto Row = [](const char *Name, const QString &Given, const QString &Shown) {
            QTest::newRow(Name) << Given << Shown;
        };
        Row("blanks squeezed and trimmed", u"  Living \t Room\n "_qs, u"Living Room"_qs);
        Row("controls dropped",
            u"Ki\x01tch\x7F"
            "en\x9B"_qs,
            u"Kitchen"_qs);
        Row("bidirectional marks dropped",
            QString::fromUtf8("\u202Emoor\u202C \u2066Hall\u2069\u200F\u061C\u200B"),
            u"moor Hall"_qs);
        Row("line separator parts words", QString::fromUtf8("Top\u2028Floor"), u"Top Floor"_qs);
        Row("letters of any script kept", QString::fromUtf8("Küche 厨房 🎵"),
            QString::fromUtf8("Küche 厨房 🎵"));
        Row("at most the bound", Max + u'x', Max);
        Row("never half a pair", QString(MaxSpeakerNameChars - 1, u'k') + QString::fromUtf8("🎵"),
            QString(MaxSpeakerNameChars - 1, u'k') + QString::fromUtf8("🎵"));
        Row("a blank at the bound is dropped", QString(MaxSpeakerNameChars - 1, u'k') + u" ab"_qs,
            QString(MaxSpeakerNameChars - 1, u'k'));
        Row("lone surrogate replaced", u"A"_qs + QChar(0xD800) + u"B"_qs,
            u"A"_qs + QChar(0xFFFD) + u"B"_qs);
        Row("nothing left", QString::fromUtf8("\u200E \t"), QString());
    }

    void cleans() {
        QFETCH(QString, given);
        QFETCH(QString, shown);
        QCOMPARE(CleanSpeakerName(given), shown);
    }
};

QTEST_GUILESS_MAIN(TstSpeakerName)
#include "tst_speakername.moc"
