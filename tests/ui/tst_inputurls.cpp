#include "InputURLsDialog.h"
#include "Modal.h"
#include "TestFiles.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

// The URL batch checks and the URL-list files of the URL input dialog.
class TestInputURLs : public QObject {
    Q_OBJECT

    QStringList FMessages;

    // Message boxes are recorded and answered; other dialogs go to OnDialog.
    void Answer(std::function<int(QDialog &)> OnDialog = {}) {
        SetModalHook([this, OnDialog](QDialog &Dialog) {
            if (auto *Box = qobject_cast<QMessageBox *>(&Dialog)) {
                FMessages << Box->text();
                return int(QMessageBox::Ok);
            }
            return OnDialog ? OnDialog(Dialog) : int(QDialog::Rejected);
        });
    }

private Q_SLOTS:
    void init() { FMessages.clear(); }
    void cleanup() { SetModalHook({}); }

    void checkLines_data() {
        QTest::addColumn<QString>("Text");
        QTest::addColumn<QString>("Message"); // empty: passes
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("second line not http") << "http://server/a.mp3\nftp://server/b.mp3"
                                              << "Not a http url at line 2";
        QTest::newRow("no file name") << "http://server/music/"
                                      << "Not find any file name at line 1";
        QTest::newRow("no path") << "http://server"
                                 << "Not find any file name at line 1";
        QTest::newRow("not audio") << "http://server/a.txt"
                                   << "Not Support this file type at line 1";
        QTest::newRow("wax, upper case, query")
            << "http://server/a.wax\r\nHTTP://SERVER/A.MP3\rhttp://server/get.mp3?id=5\n"
            << "";
        QTest::newRow("empty line between") << "http://server/a.mp3\n\nhttp://server/b.mp3"
                                            << "Not a http url at line 2";
        QTest::newRow("leading blank") << " http://server/a.mp3"
                                       << "Not a http url at line 1";
        QTest::newRow("https is not http") << "https://server/a.mp3"
                                           << "Not a http url at line 1";
        QTest::newRow("first failure wins") << "http://server/a.txt\nftp://x/b.mp3"
                                            << "Not Support this file type at line 1";
    }

    void checkLines() {
        QFETCH(QString, Text);
        QFETCH(QString, Message);
        const TURLCheck Check = CheckURLLines(Text);
        QCOMPARE(Check.Ok, Message.isEmpty());
        QCOMPARE(Check.Message, Message);
    }

    void okClosesOnlyWhenEveryLinePasses() {
        Answer();
        TInputURLsDialog Form;
        Form.FURLsEdit->setPlainText("http://server/a.mp3\nhttp://server/b.txt");
        Form.AcceptInput();
        QCOMPARE(FMessages, QStringList{"Not Support this file type at line 2"});
        QCOMPARE(Form.result(), int(QDialog::Rejected));
        QCOMPARE(Form.FURLsEdit->toPlainText(), "http://server/a.mp3\nhttp://server/b.txt");

        Form.FURLsEdit->setPlainText("http://server/a.mp3\nhttp://server/b.wma\n");
        Form.AcceptInput();
        QCOMPARE(Form.result(), int(QDialog::Accepted));
        QCOMPARE(Form.URLLines(), (QByteArrayList{"http://server/a.mp3", "http://server/b.wma"}));
    }

    void saveAndLoadThroughTheDialogs() {
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        QStringList Filters;
        QString Suffix;
        Answer([&](QDialog &Dialog) {
            auto *Files = qobject_cast<QFileDialog *>(&Dialog);
            if (!Files)
                return int(QDialog::Rejected);
            Filters = Files->nameFilters();
            Suffix = Files->defaultSuffix();
            if (Files->acceptMode() == QFileDialog::AcceptSave)
                Files->selectFile(Dir.filePath("urls")); // typed without extension
            return int(QDialog::Accepted);
        });

        TInputURLsDialog Saver;
        Saver.FURLsEdit->setPlainText("http://server/a.mp3\nhttp://server/b.mp3");
        Saver.SaveURLList();
        QCOMPARE(Filters, QStringList{"Urls text file (*.txt)"});
        QCOMPARE(Suffix, "txt");
        QCOMPARE(Saver.URLFileName(), Dir.filePath("urls.txt"));
        // Exactly the box's text: CR LF between lines, none added at the end.
        QCOMPARE(ReadAll(Dir.filePath("urls.txt")), "http://server/a.mp3\r\nhttp://server/b.mp3");

        TInputURLsDialog Loader;
        QVERIFY(Loader.LoadURLFile(Dir.filePath("urls.txt")));
        QCOMPARE(Loader.FURLsEdit->toPlainText(), Saver.FURLsEdit->toPlainText());
        QVERIFY(FMessages.isEmpty());
    }

    void loadShowsEveryKindOfLineBreak() {
        QTemporaryDir Dir;
        QFile F(Dir.filePath("mixed.txt"));
        QVERIFY(F.open(QIODevice::WriteOnly));
        F.write("http://a/1.mp3\r\nhttp://a/2.mp3\rhttp://a/3.mp3\nhttp://a/4.mp3\r\n");
        F.close();
        TInputURLsDialog Form;
        QVERIFY(Form.LoadURLFile(F.fileName()));
        QCOMPARE(Form.FURLsEdit->toPlainText(),
                 "http://a/1.mp3\nhttp://a/2.mp3\nhttp://a/3.mp3\nhttp://a/4.mp3\n");
        QCOMPARE(Form.URLLines().size(), 4);

        // Saved back, the final line break stays and every break becomes CR LF.
        QVERIFY(Form.SaveURLFile(F.fileName()));
        QCOMPARE(ReadAll(F.fileName()),
                 "http://a/1.mp3\r\nhttp://a/2.mp3\r\nhttp://a/3.mp3\r\nhttp://a/4.mp3\r\n");
    }

    void fileErrorsKeepTheText() {
        Answer();
        QTemporaryDir Dir;
        TInputURLsDialog Form;
        Form.FURLsEdit->setPlainText("http://server/a.mp3");
        QVERIFY(!Form.LoadURLFile(Dir.path())); // a folder cannot be read as a list
        QVERIFY(!Form.SaveURLFile(Dir.filePath("missing/urls.txt")));
        QCOMPARE(FMessages.size(), 2);
        QVERIFY2(FMessages[0].startsWith("Cannot open file") && FMessages[0].contains(Dir.path()),
                 qPrintable(FMessages[0]));
        QVERIFY2(FMessages[1].startsWith("Cannot create file") &&
                     FMessages[1].contains("missing/urls.txt"),
                 qPrintable(FMessages[1]));
        QCOMPARE(Form.FURLsEdit->toPlainText(), "http://server/a.mp3");
    }
};

QTEST_MAIN(TestInputURLs)
#include "tst_inputurls.moc"
