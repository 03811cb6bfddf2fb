#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A session bus of the test's own: dbus-daemon on a socket in a temporary folder, with a
// configuration that needs no system service. It stops with the object.
class TPrivateBus {
public:
    TPrivateBus() = default;
    ~TPrivateBus();
    TPrivateBus(const TPrivateBus &) = delete;
    TPrivateBus &operator=(const TPrivateBus &) = delete;

    // Starts the daemon and waits up to 5 s for its address; false, with Error set, on failure.
    bool Start(QString *Error = nullptr);
    // For DBUS_SESSION_BUS_ADDRESS or QDBusConnection::connectToBus.
    QString Address() const { return FAddress; }

private:
    QTemporaryDir FDir;
    QProcess FDaemon;
    QString FAddress;
};
