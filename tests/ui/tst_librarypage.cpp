#include "AllowAction.h"
#include "BalloonTip.h"
#include "InputURLsDialog.h"
#include "KnownTags.h"
#include "LibraryBrowser.h"
#include "LibraryFolders.h"
#include "LibraryFoldersDialog.h"
#include "LibraryListing.h"
#include "LibraryTags.h"
#include "MainWindow.h"
#include "Modal.h"
#include "MusicLibrary.h"
#include "Settings.h"
#include "TagCache.h"
#include "TagScanner.h"
#include "TestFiles.h"
#include "WindowParts.h"

#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>

// A library page on a store of its own, built as the window builds it, the library file read.
struct TPageRig {
    TMusicLibrary Library;
    TAllowAction Allow{[] { return true; }, nullptr};
    QAction Help, About;
    TLibraryPage Page{Library, {&Allow, &Help, &About}};
    TPageRig() { Page.LoadLibrary(); }
};

// A page whose rows' tags come from the tag cache (the scanner program is missing).
struct TTaggedPageRig : TPageRig {
    TTagScanner Scanner;
    TLibraryTags Tags{&Scanner, TTagCache::DefaultFile()};
    explicit TTaggedPageRig(const QString &NoScanner) : Scanner(NoScanner) {
        Tags.Follow(Library); // the rows come by the event loop
        Page.SetLibraryTags(&Tags);
    }
};

// The library page, and the window's media server that serves the library.
class TestLibraryPage : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FHome;
    QStringList FMessages;
    std::function<int(QDialog &)> FOnDialog;

    static QStringList Shown(QWidget &Form) {
        QStringList Names;
        QAbstractItemModel *Model = LibraryView(Form)->model();
        for (int Row = 0; Row < Model->rowCount(); ++Row)
            Names << Model->index(Row, 0).data().toString();
        return Names;
    }
    // Status and body of one GET, or status 0 when the connection failed.
    static QPair<int, QByteArray> Get(quint16 Port, const QString &Name) {
        QNetworkAccessManager Manager;
        Manager.setProxy(QNetworkProxy::NoProxy);
        QNetworkReply *Reply = Manager.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(Port).arg(Name))));
        QSignalSpy Finished(Reply, &QNetworkReply::finished);
        if (!Reply->isFinished() && !Finished.wait(10000))
            return {-1, {}};
        const int Status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray Body = Reply->readAll();
        delete Reply;
        return {Status, Body};
    }

private Q_SLOTS:
    void init() {
        FHome = std::make_unique<QTemporaryDir>();
        QVERIFY(FHome->isValid());
        qputenv("XDG_DATA_HOME", FHome->filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", FHome->filePath("config").toUtf8());
        qputenv("XDG_CACHE_HOME", FHome->filePath("cache").toUtf8());
        LoadSettings();
        FMessages.clear();
        FOnDialog = {};
        SetModalHook([this](QDialog &Dialog) {
            if (auto *Box = qobject_cast<QMessageBox *>(&Dialog)) {
                FMessages << Box->text();
                return int(QMessageBox::Ok);
            }
            return FOnDialog ? FOnDialog(Dialog) : int(QDialog::Rejected);
        });
    }
    void cleanup() {
        SetModalHook({});
        if (CurrentBalloonTip())
            CurrentBalloonTip()->close();
    }

    void libraryLoadsAtStart() {
        // A blank line and a repeated path are rows too; the last line has no break.
        QVERIFY(WriteAll(LibraryFileName, "/m/a.mp3\r\n\r\nhttp://h/b.wma?x=1\n/m/a.mp3"));
        TPageRig Rig;
        TLibraryPage &Form = Rig.Page;
        QCOMPARE(Shown(Form), (QStringList{"a.mp3", "", "b.wma", "a.mp3"}));
        QVERIFY(FMessages.isEmpty());
        QVERIFY(Form.SaveLibrary());
        QCOMPARE(ReadAll(LibraryFileName), "/m/a.mp3\r\n\r\nhttp://h/b.wma?x=1\r\n/m/a.mp3\r\n");
    }

    void addedSourcesAreSaved() {
        TPageRig Rig;
        TLibraryPage &Form = Rig.Page;
        QSignalSpy Saved(&Form, &TLibraryPage::LibrarySaved);
        QVERIFY(!QFile::exists(LibraryFileName)); // not created until the first save
        Form.AddToLibrary(QByteArray("/m/Song One.mp3"));
        Form.AddToLibrary(QByteArray("/M/SONG ONE.MP3")); // duplicate ignoring case
        Form.AddToLibrary(QByteArray("/m/notes.txt"));
        Form.AddToLibrary(QByteArray("HTTP://host/Song.MP3"));
        QVERIFY(Form.SaveLibrary());
        QCOMPARE(Saved.count(), 1);
        QCOMPARE(Shown(Form), (QStringList{"Song One.mp3", "Song.MP3"}));
        QCOMPARE(ReadAll(LibraryFileName), "/m/Song One.mp3\r\nHTTP://host/Song.MP3\r\n");
    }

    void droppedFilesAddOnlyAudioAndSaveOnce() {
        QTemporaryDir Files;
        QVERIFY(QDir(Files.path()).mkpath("Album/Disc 2"));
        const QString LongName = QString(120, 'x') + ".mp3"; // longer than any fixed buffer
        for (const QString &Name : {QString("b.mp3"), QString("notes.txt"), LongName,
                                    QString("a.wav"), QString("Album/Disc 2/d.ogg")})
            QVERIFY(WriteAll(Files.filePath(Name), "data"));
        QMimeData Data;
        Data.setUrls({QUrl::fromLocalFile(Files.filePath("b.mp3")),
                      QUrl::fromLocalFile(Files.filePath("Album")),
                      QUrl::fromLocalFile(Files.filePath("notes.txt")),
                      QUrl("http://host/remote.mp3"), QUrl::fromLocalFile(Files.filePath(LongName)),
                      QUrl::fromLocalFile(Files.filePath("a.wav"))});

        TPageRig Rig;
        TLibraryPage &Form = Rig.Page;
        Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form));
        PopHitCount = 0;
        QSignalSpy Saved(&Form, &TLibraryPage::LibrarySaved);
        QWidget *Target = LibraryView(Form)->viewport();
        const QPoint At = Target->rect().center();
        QDragEnterEvent Enter(At, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target, &Enter);
        QVERIFY(Enter.isAccepted());
        QDropEvent Drop(At, Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target, &Drop);

        QCOMPARE(Shown(Form), (QStringList{"b.mp3", LongName, "a.wav"}));
        QCOMPARE(Saved.count(), 1);
        QCOMPARE(ReadAll(LibraryFileName),
                 QFile::encodeName(Files.filePath("b.mp3") + "\r\n" + Files.filePath(LongName) +
                                   "\r\n" + Files.filePath("a.wav") + "\r\n"));
        QCOMPARE(PopHitCount, 0); // no hint after a drop
        // The refused name is told after the drop; the folder's files follow, and are saved.
        QTRY_COMPARE(FMessages.size(), 1);
        QVERIFY(FMessages.first().contains("notes.txt: \".txt\" is not an audio file type"));
        QTRY_COMPARE(Shown(Form).value(3), "d.ogg");
        QTRY_COMPARE(Saved.count(), 2);
    }

    void fileErrorsAreShown() {
        QVERIFY(QDir().mkpath(LibraryFileName)); // a folder where the file should be
        TPageRig Rig;
        TLibraryPage &Form = Rig.Page;
        QCOMPARE(FMessages.size(), 1);
        QVERIFY2(FMessages[0].startsWith("Cannot open file") &&
                     FMessages[0].contains(LibraryFileName),
                 qPrintable(FMessages[0]));
        QCOMPARE(Rig.Library.Count(), 0);

        // An earlier rescue stays: the unreadable one goes beside it.
        QVERIFY(QDir().mkpath(LibraryFileName + ".unreadable/full"));
        QSignalSpy Saved(&Form, &TLibraryPage::LibrarySaved);
        Form.AddToLibrary(QByteArray("/m/a.mp3"));
        QVERIFY(Form.SaveLibrary());
        QVERIFY(QFileInfo(LibraryFileName + ".unreadable/full").isDir());
        QVERIFY(QFileInfo(LibraryFileName + ".unreadable.2").isDir());
        QCOMPARE(ReadAll(LibraryFileName), QByteArray("/m/a.mp3\r\n"));

        // A save that cannot be written says so and keeps the rows.
        QVERIFY(WriteAll(FHome->filePath("plain"), "x"));
        LibraryFileName = FHome->filePath("plain/MusicLibrary.txt");
        QVERIFY(!Form.SaveLibrary());
        QCOMPARE(Saved.count(), 1);
        QCOMPARE(FMessages.size(), 2);
        QVERIFY2(FMessages[1].startsWith("Cannot create file"), qPrintable(FMessages[1]));
        QCOMPARE(Shown(Form), QStringList{"a.mp3"}); // kept for the next save
    }

    void addActionsRunTheirDialogs() {
        QTemporaryDir Files;
        for (const char *Name : {"z.mp3", "notes.txt", "a.mp3"})
            QVERIFY(WriteAll(Files.filePath(Name), "data"));
        TPageRig Rig;
        TLibraryPage &Form = Rig.Page;
        QSignalSpy Saved(&Form, &TLibraryPage::LibrarySaved);
        PopHitCount = 3;

        FOnDialog = [&](QDialog &Dialog) {
            auto *Open = qobject_cast<QFileDialog *>(&Dialog);
            if (!Open)
                return int(QDialog::Rejected);
            [&] {
                QCOMPARE(Open->fileMode(), QFileDialog::ExistingFiles);
                QVERIFY(Open->nameFilters().value(0).startsWith("All audio file (*.asf "));
                QCOMPARE(Open->selectedNameFilter(), Open->nameFilters().value(0));
                QCOMPARE(Open->defaultSuffix(), QString());
            }();
            Open->setDirectory(Files.path());
            Open->selectFile("\"z.mp3\" \"notes.txt\" \"a.mp3\"");
            return int(QDialog::Accepted);
        };
        Form.AddFiles();
        QCOMPARE(Shown(Form), (QStringList{"z.mp3", "a.mp3"})); // dialog order
        QCOMPARE(Saved.count(), 1);
        QVERIFY(CurrentBalloonTip());
        QCOMPARE(CurrentBalloonTip()->Title(), "Step 2 of 2");
        QCOMPARE(PopHitCount, 4);

        // The URL dialog refuses a bad batch itself; OK adds the rest, duplicates dropped.
        FOnDialog = [&](QDialog &Dialog) {
            auto *Input = qobject_cast<TInputURLsDialog *>(&Dialog);
            if (!Input)
                return int(QDialog::Rejected);
            Input->FURLsEdit->setPlainText("http://h/one.mp3\nftp://h/two.mp3");
            Input->AcceptInput();
            Input->FURLsEdit->setPlainText("http://h/one.mp3\nHTTP://H/ONE.MP3\n");
            Input->AcceptInput();
            return Input->result();
        };
        Form.AddURLs();
        QCOMPARE(FMessages, QStringList{"Not a http url at line 2"});
        QCOMPARE(Shown(Form), (QStringList{"z.mp3", "a.mp3", "one.mp3"}));
        QCOMPARE(Saved.count(), 2);
        QCOMPARE(PopHitCount, 5);

        // A confirmed add with nothing new still saves; the hint has had its five showings.
        CurrentBalloonTip()->close();
        Form.AddURLs();
        QCOMPARE(Saved.count(), 3);
        QCOMPARE(PopHitCount, 5);
        QVERIFY(!CurrentBalloonTip() || !CurrentBalloonTip()->isVisible());

        FOnDialog = {}; // cancelled dialogs save nothing
        Form.AddFiles();
        Form.AddURLs();
        QCOMPARE(Saved.count(), 3);
    }

    void mediaServerServesTheLibrary() {
        QTemporaryDir Files;
        const QByteArray Song = QByteArray(70000, 'a') + "end";
        QVERIFY(WriteAll(Files.filePath("My Song.mp3"), Song));
        QVERIFY(
            WriteAll(LibraryFileName, QFile::encodeName(Files.filePath("My Song.mp3")) + "\r\n"));

        TMainWindow Form(0);
        const quint16 Port = Form.MediaPort();
        QVERIFY(Port != 0);
        const auto Served = Get(Port, "My Song.mp3"); // loaded at start: served at once
        QCOMPARE(Served.first, 200);
        QCOMPARE(Served.second, Song);

        Form.Library()->RemoveRow(0);
        QCOMPARE(Get(Port, "My Song.mp3").first, 404);

        Form.show();
        Form.close(); // the first close request stops the server
        QVERIFY(Form.Closing());
        QCOMPARE(Form.MediaPort(), 0);
        QCOMPARE(Get(Port, "My Song.mp3").first, 0);
    }

    void takenPortDoesNotStopTheWindow() {
        TMainWindow First(0);
        QVERIFY(First.MediaPort() != 0);
        TMainWindow Second(First.MediaPort());
        QCOMPARE(Second.MediaPort(), 0);
        QVERIFY(LibraryView(Second)->model());
    }

    // With tags: the search box, a header click, the browse panel and Play, and a hidden column
    // kept in the settings file.
    void tagsWiring() {
        QVERIFY(WriteAll(LibraryFileName, "/m/z.mp3\n/m/y.mp3\n/m/x.mp3\n/m/w.mp3\n"));
        const auto Track = [](const char *Title, const char *Artist, const char *Album, int No) {
            TTrackTags T;
            T.Title = Title;
            T.Artists = {Artist};
            T.Album = Album;
            T.Track = No;
            return T;
        };
        QVERIFY(WriteKnownTags(TTagCache::DefaultFile(),
                               {{"/m/z.mp3", Track("Zed", "Beyoncé", "Hits", 2)},
                                {"/m/y.mp3", Track("Halo", "Beyoncé", "Hits", 1)},
                                {"/m/x.mp3", Track("Alpha", "The Band", "Other", 1)},
                                {"/m/w.mp3", {}}}));
        TTaggedPageRig Rig(FHome->filePath("no-scanner"));
        TLibraryPage &Form = Rig.Page;
        QSignalSpy Albums(&Rig.Tags, &TLibraryTags::AlbumsChanged);
        QVERIFY(Albums.wait(10000));
        QCOMPARE(Shown(Form), (QStringList{"Zed", "Halo", "Alpha", "w.mp3"}));

        auto *Search = Form.findChild<QLineEdit *>("FSearchBox");
        Search->setText("beyonce");
        QCOMPARE(Shown(Form), (QStringList{"Zed", "Halo"}));
        Search->clear();
        QHeaderView *Header = LibraryView(Form)->header();
        Q_EMIT Header->sectionClicked(0);
        QCOMPARE(Shown(Form), (QStringList{"Alpha", "Halo", "w.mp3", "Zed"}));
        QVERIFY(!Form.findChild<QAction *>("FMoveUpAction")->isEnabled());
        Q_EMIT Header->sectionClicked(0);
        QCOMPARE(Shown(Form).front(), "Zed");
        Q_EMIT Header->sectionClicked(0); // back to the library's order
        QCOMPARE(Shown(Form), (QStringList{"Zed", "Halo", "Alpha", "w.mp3"}));

        // An album played: its rows in track order.
        Form.findChild<QToolButton *>("FBrowseButton")->setChecked(true);
        auto *AlbumList = Form.findChild<QListWidget *>("FAlbumList");
        AlbumList->setCurrentItem(AlbumList->findItems("Hits", Qt::MatchExactly).value(0));
        QCOMPARE(Shown(Form), (QStringList{"Halo", "Zed"}));
        QSignalSpy Played(&Form, &TLibraryPage::PlayRequested);
        Form.PlayOnThisComputer();
        QCOMPARE(Played.value(0).value(1).value<QList<int>>(), (QList<int>{1, 0}));
        // The play choices: the browse panel's play the album chosen there, as the list's do.
        Form.findChild<QAction *>("FBrowsePlayNextAction")->trigger();
        Form.findChild<QAction *>("FPlayNowAction")->trigger();
        QTRY_COMPARE(Played.size(), 3);
        QCOMPARE(Played.value(1).value(1).value<QList<int>>(), (QList<int>{1, 0}));
        QCOMPARE(Played.value(1).value(2).value<TPlayMode>(), TPlayMode::PlayNext);
        QCOMPARE(Played.value(2).value(2).value<TPlayMode>(), TPlayMode::PlayNow);

        for (QAction *Column : Form.findChildren<QAction *>())
            if (Column->text() == "Album")
                Column->setChecked(false);
        QVERIFY(LibraryView(Form)->isColumnHidden(2));
        QVERIFY(ReadAll(IniFileName).contains("LibraryHiddenColumns=4"));
        QVERIFY(LibraryView(Form)->isColumnHidden(int(TLibraryColumn::Genre))); // until shown
        QCOMPARE(Form.findChild<QLabel *>("FSummaryLabel")->text(), "2 of 4 tracks, 00:00");

        // The album chosen stays the same entry: a double-click's second click finds it.
        QListWidgetItem *Chosen = AlbumList->currentItem();
        Q_EMIT Form.Browser()->ChoiceChanged(); // the first click's
        QCOMPARE(AlbumList->currentItem(), Chosen);
        Played.clear();
        Q_EMIT AlbumList->itemDoubleClicked(Chosen);
        QCOMPARE(Played.size(), 1);
    }

    // The search box's keys, on a page with tags.
    void searchKeys_data() {
        QTest::addColumn<int>("Key");
        QTest::addColumn<QString>("Text"); // the search box's after the key
        QTest::addColumn<bool>("InList");  // the list has the focus, on a row
        QTest::addColumn<int>("Played");   // play requests
        QTest::newRow("down into the results") << int(Qt::Key_Down) << "halo" << true << 0;
        QTest::newRow("enter plays them") << int(Qt::Key_Return) << "halo" << false << 1;
        QTest::newRow("escape clears") << int(Qt::Key_Escape) << "" << false << 0;
    }

    void searchKeys() {
        QFETCH(int, Key);
        QFETCH(QString, Text);
        QFETCH(bool, InList);
        QFETCH(int, Played);
        QVERIFY(WriteAll(LibraryFileName, "/m/halo.mp3\n/m/zed.mp3\n"));
        TTaggedPageRig Rig(FHome->filePath("no-scanner"));
        TLibraryPage &Form = Rig.Page;
        QSignalSpy Reset(&Rig.Tags, &TLibraryTags::RowsReset);
        QVERIFY(Reset.wait(10000));
        Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form));
        QSignalSpy Plays(&Form, &TLibraryPage::PlayRequested);
        auto *Search = Form.findChild<QLineEdit *>("FSearchBox");
        QTest::keyClick(LibraryView(Form), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(Search->hasFocus());
        QTest::keyClicks(Search, "halo");
        QCOMPARE(Shown(Form), QStringList{"halo.mp3"});
        QTest::keyClick(Search, Qt::Key(Key));
        QCOMPARE(Search->text(), Text);
        QCOMPARE(LibraryView(Form)->hasFocus() && LibraryView(Form)->currentIndex().isValid(),
                 InList);
        QCOMPARE(Plays.size(), Played);
    }

    // "Library Folders...": the folders chosen are kept in the settings and walked in.
    void libraryFoldersDialog() {
        QTemporaryDir Files;
        QVERIFY(WriteAll(Files.filePath("a.mp3"), "data"));
        TPageRig Rig;
        TLibraryFolders Folders(Rig.Library);
        Rig.Page.SetLibraryFolders(&Folders);
        QSignalSpy Saved(&Rig.Page, &TLibraryPage::LibrarySaved);
        FOnDialog = [&](QDialog &Dialog) {
            auto *Edit = qobject_cast<TLibraryFoldersDialog *>(&Dialog);
            if (!Edit)
                return int(QDialog::Rejected);
            Edit->AddFolder(QFile::encodeName(Files.path()));
            return int(QDialog::Accepted);
        };
        Rig.Page.findChild<QAction *>("FLibraryFoldersAction")->trigger();
        QVERIFY(Saved.wait(10000));
        QCOMPARE(Shown(Rig.Page), QStringList{"a.mp3"});
        QVERIFY(ReadAll(IniFileName).contains("Folders=" + QFile::encodeName(Files.path())));
        QCOMPARE(Folders.Folders(), QByteArrayList{QFile::encodeName(Files.path())});
    }

    // "Add Folder..." asks for a folder and walks it; the rows are saved once it is done. A
    // folder without audio says so.
    void addFolderAction_data() {
        QTest::addColumn<QStringList>("Files");
        QTest::addColumn<QStringList>("Rows");
        QTest::addColumn<QString>("Box");
        QTest::newRow("audio and more") << QStringList{"b/2.opus", "1.flac", "notes.txt"}
                                        << QStringList{"1.flac", "2.opus"} << "";
        QTest::newRow("no audio") << QStringList{"b/notes.txt"} << QStringList{}
                                  << "No audio file was found in the folder.";
    }
    void addFolderAction() {
        QFETCH(QStringList, Files);
        QFETCH(QString, Box);
        QTemporaryDir Folder;
        QVERIFY(QDir(Folder.path()).mkpath("b"));
        for (const QString &Name : Files)
            QVERIFY(WriteAll(Folder.filePath(Name), "data"));
        TPageRig Rig;
        TLibraryPage &Form = Rig.Page;
        QSignalSpy Saved(&Form, &TLibraryPage::LibrarySaved);
        FOnDialog = [&](QDialog &Dialog) {
            auto *Open = qobject_cast<QFileDialog *>(&Dialog);
            if (!Open || Open->fileMode() != QFileDialog::Directory)
                return int(QDialog::Rejected);
            Open->setDirectory(Folder.path());
            Open->selectFile(Folder.path());
            return int(QDialog::Accepted);
        };
        Form.findChild<QAction *>("FAddFolderAction")->trigger();
        QTRY_COMPARE(FMessages, Box.isEmpty() ? QStringList() : QStringList{Box});
        QTRY_VERIFY(Form.findChild<QWidget *>("FFolderBar")->isHidden());
        QFETCH(QStringList, Rows);
        QTRY_COMPARE(Shown(Form), Rows);
        QTRY_COMPARE(Saved.count(), Rows.isEmpty() ? 0 : 1);
    }

    // Remove, Move Up, Move Down and a drag onto a row: the rows, the selection, the enabling
    // rules and the saved file after each.
    void editingTheList_data() {
        QTest::addColumn<QString>("Action");
        QTest::addColumn<QList<int>>("Selected");
        QTest::addColumn<QString>("Order");
        QTest::addColumn<QList<int>>("SelectedAfter");
        QTest::newRow("up") << "up" << QList<int>{2, 4} << "ACEBDF" << QList<int>{1, 2};
        QTest::newRow("down") << "down" << QList<int>{1, 3} << "ACEBDF" << QList<int>{3, 4};
        QTest::newRow("drop B, C on E")
            << "drop 4" << QList<int>{1, 2} << "ADBCEF" << QList<int>{2, 3};
        QTest::newRow("remove") << "remove" << QList<int>{0, 5} << "BCDE" << QList<int>{};
        QTest::newRow("remove all")
            << "remove" << QList<int>{0, 1, 2, 3, 4, 5} << "" << QList<int>{};
    }
    void editingTheList() {
        QFETCH(QString, Action);
        QFETCH(QList<int>, Selected);
        QFETCH(QString, Order);
        QFETCH(QList<int>, SelectedAfter);
        QByteArray File;
        for (const char C : QByteArray("ABCDEF"))
            File += QByteArray("/m/") + C + ".mp3\r\n";
        QVERIFY(WriteAll(LibraryFileName, File));
        TPageRig Rig;
        TLibraryPage &Form = Rig.Page;
        auto *Remove = Form.findChild<QAction *>("FRemoveFilesAction");
        auto *Up = Form.findChild<QAction *>("FMoveUpAction");
        auto *Down = Form.findChild<QAction *>("FMoveDownAction");
        QVERIFY(!Remove->isEnabled());
        for (const int Row : Selected)
            LibraryView(Form)->selectionModel()->select(LibraryView(Form)->model()->index(Row, 0),
                                                        QItemSelectionModel::Select);
        QVERIFY(Remove->isEnabled());
        QCOMPARE(Up->isEnabled(), Selected.first() != 0);
        QCOMPARE(Down->isEnabled(), Selected.last() != 5);
        if (Action == "up")
            Up->trigger();
        else if (Action == "down")
            Down->trigger();
        else if (Action == "remove")
            Remove->trigger();
        else
            Q_EMIT LibraryView(Form)->RowsDropped(Action.mid(5).toInt());
        QString Names;
        QByteArray Saved;
        for (const QString &Name : Shown(Form)) {
            Names += Name.left(1);
            Saved += "/m/" + Name.toUtf8() + "\r\n";
        }
        QCOMPARE(Names, Order);
        QCOMPARE(ReadAll(LibraryFileName), Saved);
        QCOMPARE(Form.SelectedRows(), SelectedAfter);
        QCOMPARE(Remove->isEnabled(), !SelectedAfter.isEmpty());
    }
};

QTEST_MAIN(TestLibraryPage)
#include "tst_librarypage.moc"
