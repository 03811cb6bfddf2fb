#include "TwoHosts.h"

#include <QDeadlineTimer>
#include <QNetworkInterface>
#include <QStandardPaths>
#include <QUdpSocket>

#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

const QByteArray TTwoHosts::AddressA = "10.250.0.1";
const QByteArray TTwoHosts::AddressB = "10.250.0.2";
const QString TTwoHosts::InterfaceA = QStringLiteral("vxa");
const QString TTwoHosts::InterfaceB = QStringLiteral("vxb");

namespace {

// ip and nsenter live in sbin, which a test's PATH may lack.
QString FindTool(const QString &Name) {
    QString Path = QStandardPaths::findExecutable(Name);
    if (Path.isEmpty())
        Path = QStandardPaths::findExecutable(Name,
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                               QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    return Path.isEmpty() ? Name : Path;
}

QByteArray NamespaceOf(const QString &Pid) {
    char Buffer[64] = {};
    const QByteArray Link = QStringLiteral("/proc/%1/ns/net").arg(Pid).toLocal8Bit();
    const ssize_t Size = ::readlink(Link.constData(), Buffer, sizeof Buffer - 1);
    return Size > 0 ? QByteArray(Buffer, Size) : QByteArray();
}

// Whether the interface runs, waiting on the kernel's link messages until it does or the time
// is up. Subscribed before the first look, so no change slips between look and wait.
bool WaitForRunning(const QString &Name, int TimeoutMs) {
    const auto Running = [&Name] {
        return QNetworkInterface::interfaceFromName(Name).flags().testFlag(
            QNetworkInterface::IsRunning);
    };
    const int Fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl Address{};
    Address.nl_family = AF_NETLINK;
    Address.nl_groups = RTMGRP_LINK;
    const bool Listening =
        Fd >= 0 && ::bind(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof Address) == 0;
    const QDeadlineTimer Deadline(TimeoutMs);
    bool Up = Running();
    while (!Up && Listening && !Deadline.hasExpired()) {
        pollfd Poll{Fd, POLLIN, 0};
        if (::poll(&Poll, 1, int(Deadline.remainingTime())) > 0) {
            char Buffer[8192];
            while (::recv(Fd, Buffer, sizeof Buffer, MSG_DONTWAIT) > 0) {
            }
        }
        Up = Running();
    }
    if (Fd >= 0)
        ::close(Fd);
    return Up;
}

} // namespace

TTwoHosts::~TTwoHosts() {
    TearDown();
}

bool TTwoHosts::Fail(const QString &Why) {
    FError = Why;
    TearDown();
    return false;
}

bool TTwoHosts::RunOrFail(const QStringList &Command) {
    QByteArray Output;
    if (Run(Command, &Output))
        return true;
    FError = QStringLiteral("'%1' failed: %2")
                 .arg(Command.join(u' '), QString::fromLocal8Bit(Output).trimmed());
    return false;
}

bool TTwoHosts::SetUp() {
    if (FHolder.state() != QProcess::NotRunning)
        return Fail(QStringLiteral("two hosts set up twice"));
    QStringList Found;
    for (const QNetworkInterface &Interface : QNetworkInterface::allInterfaces())
        Found.append(Interface.name());
    if (Found != QStringList{QStringLiteral("lo")})
        return Fail(
            QStringLiteral("refusing to build two hosts outside a private network namespace "
                           "(interfaces here: %1); run the test under unshare -n")
                .arg(Found.join(QStringLiteral(", "))));

    // unshare execs cat in place once the new namespace is there: a line echoed proves it.
    FHolder.start(FindTool(QStringLiteral("unshare")),
                  {QStringLiteral("-n"), QStringLiteral("cat")});
    if (!FHolder.waitForStarted(5000))
        return Fail(QStringLiteral("cannot start the namespace holder: ") + FHolder.errorString());
    const QByteArray Own = NamespaceOf(QStringLiteral("self"));
    const QString Pid = QString::number(FHolder.processId());
    FHolder.write("\n");
    const bool Echoed = FHolder.waitForReadyRead(5000);
    const QByteArray Theirs = NamespaceOf(Pid);
    if (!Echoed || Theirs.isEmpty() || Theirs == Own)
        return Fail(QStringLiteral("the namespace holder has no namespace of its own: ") +
                    QString::fromLocal8Bit(FHolder.readAllStandardError()));

    const QString Ip = FindTool(QStringLiteral("ip"));
    const QString PrefixA = QString::fromLatin1(AddressA) + QStringLiteral("/24");
    const QString PrefixB = QString::fromLatin1(AddressB) + QStringLiteral("/24");
    if (!RunOrFail({Ip, "link", "set", "lo", "up"}))
        return Fail(FError);
    if (!RunOrFail({Ip, "link", "add", InterfaceA, "type", "veth", "peer", "name", InterfaceB}))
        return Fail(FError);
    FLinkMade = true;
    const bool Built = RunOrFail({Ip, "link", "set", InterfaceB, "netns", Pid}) &&
                       RunOrFail({Ip, "addr", "add", PrefixA, "dev", InterfaceA}) &&
                       RunOrFail({Ip, "link", "set", InterfaceA, "up"}) &&
                       RunOrFail({Ip, "route", "add", "default", "dev", InterfaceA}) &&
                       RunOrFail(InB({Ip, "link", "set", "lo", "up"})) &&
                       RunOrFail(InB({Ip, "addr", "add", PrefixB, "dev", InterfaceB})) &&
                       RunOrFail(InB({Ip, "link", "set", InterfaceB, "up"})) &&
                       RunOrFail(InB({Ip, "route", "add", "default", "dev", InterfaceB}));
    if (!Built)
        return Fail(FError);
    // The carrier comes once both ends are up.
    if (!WaitForRunning(InterfaceA, 5000))
        return Fail(QStringLiteral("the veth link does not come up"));
    FError.clear();
    return true;
}

void TTwoHosts::TearDown() {
    if (FLinkMade) {
        // Deleting one end deletes both.
        Run({FindTool(QStringLiteral("ip")), "link", "del", InterfaceA});
        FLinkMade = false;
    }
    if (FHolder.state() != QProcess::NotRunning) {
        FHolder.kill();
        FHolder.waitForFinished(5000);
    }
}

bool TTwoHosts::SetLinkUp(bool Up) {
    const QString Ip = FindTool(QStringLiteral("ip"));
    if (!Up)
        return Run({Ip, "link", "set", InterfaceA, "down"});
    // The link going down took the default route with it.
    return Run({Ip, "link", "set", InterfaceA, "up"}) &&
           Run({Ip, "route", "replace", "default", "dev", InterfaceA});
}

qint64 TTwoHosts::HolderPid() const {
    return FHolder.state() == QProcess::Running ? FHolder.processId() : 0;
}

QStringList TTwoHosts::InB(const QStringList &Command) const {
    return QStringList{FindTool(QStringLiteral("nsenter")), QStringLiteral("-t"),
                       QString::number(HolderPid()), QStringLiteral("-n"), QStringLiteral("--")} +
           Command;
}

void TTwoHosts::StartInB(QProcess &Process, const QStringList &Command) const {
    const QStringList Full = InB(Command);
    Process.start(Full.first(), Full.mid(1));
}

bool TTwoHosts::Run(const QStringList &Command, QByteArray *Output) {
    if (Command.isEmpty())
        return false;
    QProcess Process;
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Command.first(), Command.mid(1));
    const bool Ended = Process.waitForStarted(5000) && Process.waitForFinished(10000);
    if (!Ended)
        Process.kill();
    if (Output)
        *Output = Process.readAll();
    return Ended && Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0;
}

QString OtherComputer(int N) {
    for (const QNetworkInterface &Interface : QNetworkInterface::allInterfaces())
        if (Interface.name() != u"lo" && Interface.name() != TTwoHosts::InterfaceA)
            return {};
    // A local route, not an address of lo: the computer answers there, yet no interface lists
    // the address, so the program does not count it among its own.
    TTwoHosts::Run(QStringList{FindTool(QStringLiteral("ip"))} +
                   QStringLiteral("route add local 10.254.0.0/24 dev lo").split(u' '));
    const QHostAddress Address(0x0AFE0000u + quint32(N));
    QUdpSocket Probe;
    return Probe.bind(Address, 0) ? Address.toString() : QString();
}
