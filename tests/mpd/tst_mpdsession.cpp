#include "MpdCommands.h"
#include "MpdSession.h"

#include <QtTest>

// A session over a table of test commands and the connection's own commands. Each step of a
// script is a line the client sends, or "!name": the subsystem name changed.
class TestMpdSession : public QObject {
    Q_OBJECT
    TMpdCommandTable Table;

private Q_SLOTS:
    void initTestCase() {
        AddConnectionCommands(Table, "pw");
        Table.Add({"echo", 0, 2, [](TMpdCall &Call) {
                       for (const QByteArray &Arg : Call.Args)
                           Call.Out.Add("arg", Arg);
                   }});
        Table.Add({"fail", 0, 0, [](TMpdCall &) { MpdFail(TMpdAck::NoExist, "gone"); }});
        // Streams "n: 1" .. "n: N", one line per part, then fails at N when asked to.
        Table.Add({"count", 1, 2, [](TMpdCall &Call) {
                       const int N = int(MpdInteger(Call.Args[0]));
                       const bool Fail = Call.Args.size() > 1;
                       Call.Out.Stream([N, Fail, I = 0](TMpdResponse &Out) mutable {
                           Out.Add("n", ++I);
                           if (I == N && Fail)
                               MpdFail(TMpdAck::System, "broke");
                           return I >= N;
                       });
                   }});
        Table.Add({"stall", 0, 0,
                   [](TMpdCall &Call) { Call.Out.Stream([](TMpdResponse &) { return false; }); }});
        Table.Add({"huge", 0, 0, [](TMpdCall &Call) {
                       for (int I = 0; I < 200000; ++I)
                           Call.Out.Add("line", QByteArray(60, 'x'));
                   }});
    }
    void run_data() {
        QTest::addColumn<QByteArrayList>("script");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("closed");

        const auto Row = [](const char *Name, QByteArrayList Script, QByteArray Answer,
                            bool Closed = false) {
            QTest::newRow(Name) << Script << Answer << Closed;
        };
        Row("before the password only free commands",
            {"echo", "password nope", "password pw", "echo a"},
            "ACK [4@0] {echo} you don't have permission for \"echo\"\n"
            "ACK [3@0] {password} incorrect password\nOK\narg: a\nOK\n");
        Row("unknown, argument count, unreadable",
            {"password pw", "nope", "echo a b c", "echo \"x"},
            "OK\nACK [5@0] {} unknown command \"nope\"\n"
            "ACK [2@0] {echo} wrong number of arguments for \"echo\"\n"
            "ACK [5@0] {} Missing closing '\"'\n");
        Row("an OK list",
            {"password pw", "command_list_ok_begin", "echo a", "echo", "command_list_end"},
            "OK\narg: a\nlist_OK\nlist_OK\nOK\n");
        Row("a list stops at the failing command",
            {"password pw", "command_list_begin", "echo a", "fail", "echo b", "command_list_end"},
            "OK\narg: a\nACK [50@1] {fail} gone\n");
        Row("a stream inside a list",
            {"password pw", "command_list_ok_begin", "count 3", "echo z", "command_list_end"},
            "OK\nn: 1\nn: 2\nn: 3\nlist_OK\narg: z\nlist_OK\nOK\n");
        Row("a stream that fails", {"password pw", "count 2 x", "echo"},
            "OK\nn: 1\nn: 2\nACK [52@0] {count} broke\nOK\n");
        Row("a stream that stalls", {"password pw", "stall"},
            "OK\nACK [52@0] {stall} answer stalled\n");
        Row("an answer past its budget", {"password pw", "huge"},
            "OK\nACK [52@0] {huge} answer too large\n");
        Row("idle woken by a change it waits on",
            {"password pw", "!mixer", "idle player", "!options", "!player", "!mixer", "idle"},
            "OK\nchanged: player\nOK\nchanged: mixer\nOK\n");
        Row("a change before idle answers at once", {"password pw", "!playlist", "idle"},
            "OK\nchanged: playlist\nOK\n");
        Row("noidle ends idle; outside idle no answer",
            {"password pw", "idle", "noidle", "noidle", "!player", "ping"}, "OK\nOK\nOK\n");
        Row("another command while idle closes", {"password pw", "idle", "ping"}, "OK\n", true);
        Row("an unknown idle name", {"password pw", "idle bogus"},
            "OK\nACK [2@0] {idle} Unrecognized idle event: bogus\n");
        Row("close", {"close", "ping"}, "", true);
        Row("tagtypes",
            {"tagtypes clear", "tagtypes enable title artist", "tagtypes",
             "tagtypes disable Artist", "tagtypes", "tagtypes enable nope"},
            "OK\nOK\ntagtype: Artist\ntagtype: Title\nOK\nOK\ntagtype: Title\nOK\n"
            "ACK [2@0] {tagtypes} Unknown tag type: nope\n");
    }
    void run() {
        QFETCH(QByteArrayList, script);
        QFETCH(QByteArray, answer);
        QFETCH(bool, closed);
        TMpdClient Client;
        Client.Authorized = false;
        TMpdSession Session(Table, Client);
        QByteArray Got;
        for (const QByteArray &Step : script) {
            if (Step.startsWith('!'))
                Session.Notify(*MpdIdleBit(Step.mid(1)));
            else
                Session.Feed(Step + '\n');
            do { // in the smallest parts
                Session.Run(1);
                Got += Session.TakeOutput();
            } while (Session.HasWork());
        }
        QCOMPARE(Got, answer);
        QCOMPARE(Session.WantsClose(), closed);
    }
    void commandsListWhatIsAllowed() {
        TMpdClient Client;
        Client.Authorized = false;
        TMpdSession Session(Table, Client);
        Session.Feed("commands\nnotcommands\n");
        Session.Run(1 << 20);
        const QByteArray Out = Session.TakeOutput();
        const qsizetype Not = Out.indexOf("OK\n");
        QVERIFY(Out.left(Not).contains("command: password\n"));
        QVERIFY(!Out.left(Not).contains("command: echo\n"));
        QVERIFY(Out.mid(Not).contains("command: echo\n"));
    }
};

QTEST_GUILESS_MAIN(TestMpdSession)
#include "tst_mpdsession.moc"
