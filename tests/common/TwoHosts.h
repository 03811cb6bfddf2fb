#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// Two hosts on one machine for tests: the test's own network namespace (host A)
// and a fresh one held by an idle process (host B), joined by a veth pair
// with one address each on a /24, links up and a default route on the link, so
// that a broadcast to 255.255.255.255 from one reaches the other. Builds only in
// a private namespace whose sole interface is lo (the suite runs under
// unshare -n), so it never touches a real interface.
class TTwoHosts {
public:
    static const QByteArray AddressA; // "10.250.0.1" on "vxa"
    static const QByteArray AddressB; // "10.250.0.2" on "vxb"
    static const QString InterfaceA;
    static const QString InterfaceB;

    TTwoHosts() = default;
    ~TTwoHosts();
    TTwoHosts(const TTwoHosts &) = delete;
    TTwoHosts &operator=(const TTwoHosts &) = delete;

    // Builds both hosts; false with Error() saying why. Callers fail the test on
    // false: the suite always has what this needs.
    bool SetUp();
    // Removes the link and ends the holder; safe to call twice.
    void TearDown();
    // Why the last SetUp failed.
    QString Error() const { return FError; }
    // The process holding host B's namespace, or 0 before SetUp.
    qint64 HolderPid() const;

    // Command (program first) wrapped so that it runs in host B:
    // nsenter -t <holder> -n -- Command...
    QStringList InB(const QStringList &Command) const;
    // Starts Command (program first) in host B; the caller owns Process.
    void StartInB(QProcess &Process, const QStringList &Command) const;
    // Takes the link down (a network that drops: nothing passes) or back up.
    bool SetLinkUp(bool Up);
    // Runs Command (program first) to its end within 10 s; true when it exits 0.
    // *Output gets what it wrote to stdout and stderr.
    static bool Run(const QStringList &Command, QByteArray *Output = nullptr);

private:
    bool Fail(const QString &Why);
    bool RunOrFail(const QStringList &Command);

    QProcess FHolder;
    QString FError;
    bool FLinkMade = false;
};

// Another computer for a test that plays on one: "10.254.0.<N>", a local address of the private
// network namespace the suite runs in that no interface lists (the program takes all of 127/8
// and its interfaces' addresses for this computer). Empty outside such a namespace: the test
// skips then.
QString OtherComputer(int N);
