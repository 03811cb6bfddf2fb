#pragma once

// A main window's test surroundings: its own settings and library files, and the steps the
// window's two test programs share.

#include "../player/FakeMedia.h"
#include "BalloonTip.h"
#include "LocalPlayerWindow.h"
#include "MainWindow.h"
#include "PlaybackEngine.h"
#include "Settings.h"
#include "Speaker.h"

#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

// Each test class calls Init and Cleanup from its own init and cleanup.
class TMainWindowRig {
protected:
    QTemporaryDir FHome;

    QString Ini() const { return IniFileName; }
    void WriteIni(const QString &Text) {
        // LoadSettings fixes IniFileName; write it where the next start looks.
        LoadSettings();
        QFile F(IniFileName);
        QVERIFY2(F.open(QIODevice::WriteOnly), qPrintable(IniFileName));
        F.write(Text.toUtf8());
    }
    // Runs the close sequence to its end: the first request is refused, the
    // heartbeat closes the window once no remote page is left.
    void CloseFully(TMainWindow &Form) {
        Form.close();
        QVERIFY(Form.Closing());
        QTRY_VERIFY_WITH_TIMEOUT(!Form.isVisible(), 5000);
    }
    // A window with a speaker on a fake component, its "My Player" page open.
    TLocalPlayerWindow *AddPlayerPage(TMainWindow &Form) {
        TLocalPlayerWindow *Player = Form.CreateLocalPlayer(0, std::make_unique<TFakeMedia>());
        Player->Speaker().Engine()->RequestShow();
        static_cast<void>(QTest::qWaitFor([Player] { return Player->isVisible(); }));
        return Player;
    }
    // Runs every event posted so far: a marker posted now is handled after them.
    static void RunPostedEvents() {
        QObject Context;
        bool Reached = false;
        QMetaObject::invokeMethod(
            &Context, [&Reached] { Reached = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(Reached);
    }
    static void RightClick(QWidget *Target, const QPoint &At) {
        QContextMenuEvent Event(QContextMenuEvent::Mouse, At, Target->mapToGlobal(At));
        QApplication::sendEvent(Target, &Event);
    }
    static QStringList Captions(const QTabWidget *Pages) {
        QStringList Texts;
        for (int I = 0; I < Pages->count(); ++I)
            Texts << Pages->tabText(I);
        return Texts;
    }
    QStringList WindowKeys() {
        QSettings S(IniFileName, QSettings::IniFormat);
        S.beginGroup("Window");
        return S.childKeys();
    }

    void Init() {
        QVERIFY(FHome.isValid());
        qputenv("XDG_DATA_HOME", FHome.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", FHome.filePath("config").toUtf8());
        qputenv("XDG_CACHE_HOME", FHome.filePath("cache").toUtf8());
        LoadSettings();
        QFile::remove(IniFileName);
        QFile::remove(LibraryFileName);
    }
    void Cleanup() {
        if (CurrentBalloonTip())
            CurrentBalloonTip()->close();
    }
};
