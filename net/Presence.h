#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <list>

// Finds the other copies on the network and keeps the list of them. One UDP
// socket on the presence port carries three words: a greeting broadcast when
// this computer comes onto the network (and every minute while it stays), the
// answer sent straight back to each greeting, and a goodbye broadcast at close.
// Greetings and goodbyes leave on every network that has a broadcast address.
// A watcher looks at this computer's addresses once a second for LocalIP, and
// keeps doing so when the port cannot be had.
// Lives on the GUI thread; the socket reports through the event loop.
class TPresence : public QObject {
    Q_OBJECT
public:
    // Milliseconds on a monotonic clock.
    using TClock = std::function<qint64()>;
    // This computer's IPv4 addresses with their networks' broadcast addresses (null
    // where there is none), the primary one first (empty when there is none).
    using TAddressSource = std::function<QList<QNetworkAddressEntry>()>;

    static const QByteArray Hello;
    static const QByteArray Alive;
    static const QByteArray Goodbye;
    // Introduces the speaker's name in an answer: "VELOXALIVE" NameField name (UTF-8). Older
    // copies take anything after "VELOXALIVE" as an answer all the same.
    static const QByteArray NameField;
    // A datagram longer than this is not read for a name.
    static constexpr int MaxNamedDatagram = 512;
    // Entry 0 of the list of computers.
    static const QByteArray ThisComputer;

    static constexpr int WatchIntervalMs = 1000;
    // A greeting while online, so that a peer that vanished without a goodbye
    // can be told from one that is still there.
    static constexpr int GreetIntervalMs = 60 * 1000;
    // A peer not heard from (greeting or answer) for this long leaves the list.
    static constexpr int PeerTimeoutMs = 3 * 60 * 1000;
    // Changes to the list are reported at most once in this time, so that a burst
    // of greetings refills the "Play on" box once.
    static constexpr int ChangeNotifyDelayMs = 100;
    // Bounds against a flood of datagrams or of forged senders. A full list makes
    // room for a newcomer by dropping the peer heard from least recently.
    static constexpr int MaxPeers = 4096;
    static constexpr int MaxDatagramsPerRead = 1024;

    explicit TPresence(QObject *Parent = nullptr);
    ~TPresence() override;

    // Replaces the clock (tests); the default counts from construction.
    void SetClock(TClock Clock);
    // Replaces where the watcher reads this computer's addresses (tests).
    void SetAddressSource(TAddressSource Source);
    // The addresses of up and running interfaces, non-loopback ones first.
    static QList<QNetworkAddressEntry> InterfaceAddresses();

    // Binds the presence socket to Port on every IPv4 address (0 picks a free
    // port), takes the first look at the addresses (greeting when online) and
    // starts the watcher. False with *Error, logged, when the port cannot be had:
    // the watcher runs all the same, nothing is sent or heard.
    bool Start(quint16 Port, QString *Error = nullptr);
    // Broadcasts the goodbye; errors are ignored. Call before Stop at close.
    void SayGoodbye();
    // Closes the socket and stops the watcher; the list stays as it is.
    void Stop();
    // Whether the presence socket is bound.
    bool IsRunning() const;
    // The bound port while running, else 0.
    quint16 Port() const;

    // "My Computer", then every peer heard from, in the order first heard.
    QByteArrayList Computers() const { return FComputers; }
    // This speaker's name, told in every answer and after every greeting (empty: none, the
    // bare words as before); a new name is told at once.
    void SetName(const QString &Name);
    // The name a peer told (CleanSpeakerName), or empty.
    QString NameOf(const QByteArray &Address) const { return FNames.value(Address); }
    // This speaker's own name, as SetName cleaned it.
    QString Name() const { return FName; }
    // How a computer of Computers() shows: "Kitchen (192.168.1.20)" once it told its name,
    // else as it is listed.
    QString Label(const QByteArray &Computer) const;
    // This computer's address for track URLs; "127.0.0.1" while offline.
    QByteArray LocalIP() const { return FLocalIP; }
    // Whether the primary address is something other than 127.0.0.1.
    bool IsOnline() const { return FLocalIP != "127.0.0.1"; }
    // This computer's addresses as dotted text, "127.0.0.1" among them.
    QByteArrayList OwnAddresses() const;
    // Whether Address is 127.0.0.1 or one of this computer's addresses.
    bool IsOwnAddress(const QByteArray &Address) const;

    // One look at the addresses and at the peers' ages, as the watcher's timer
    // takes every second: follows LocalIP, greets on a change and when a
    // greeting is due, drops peers not heard from in time.
    void Watch();
    // Handles one datagram from Sender, as the socket delivers it.
    void Receive(const QByteArray &Data, const QHostAddress &Sender);
    // Whether a datagram from Sender may list it and be answered: not loopback,
    // 0.x.x.x, multicast, 255.255.255.255 nor a broadcast address of ours.
    bool IsPeerSource(const QHostAddress &Sender) const;

Q_SIGNALS:
    // The list of computers changed (coalesced: one signal for a burst).
    void ComputersChanged();
    // LocalIP changed; IP is the new value (the status bar shows it).
    void LocalIPChanged(const QByteArray &IP);

private:
    struct TPeerState {
        qint64 LastHeard;
        std::list<QByteArray>::iterator Recency;
    };

    void ReadDatagrams();
    // The watcher's report: the online state or the primary address changed.
    void OnlineStateChanged(const QByteArray &Address);
    void Greet();
    void Broadcast(const QByteArray &Word);
    // Sends Word to To on the presence port from the local address From (null: the
    // system's choice); true when it went.
    bool Send(const QByteArray &Word, const QHostAddress &To, const QHostAddress &From);
    void Heard(const QByteArray &Address);
    void Forget(QByteArray Address); // a copy: callers pass the entry it erases
    void NoteChange();
    QByteArray AliveWord() const;

    QUdpSocket FSocket;
    quint16 FPort = 0;
    QTimer FWatchTimer;
    QTimer FNotifyTimer;
    QElapsedTimer FUptime;
    TClock FClock;
    TAddressSource FAddressSource;

    QByteArrayList FComputers;
    QHash<QByteArray, QString> FNames; // by peer address
    QString FName;
    QHash<QByteArray, TPeerState> FPeers;
    std::list<QByteArray> FRecency;       // peers, the least recently heard first
    QList<QNetworkAddressEntry> FEntries; // the watcher's last look
    QList<quint32> FBroadcasts;           // of FEntries
    QByteArrayList FOwnAddresses;         // "127.0.0.1" first
    QByteArray FLocalIP = "127.0.0.1";
    qint64 FLastGreeting = 0;
};
