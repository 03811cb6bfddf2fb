#include "PrivateBus.h"

#include "TestFiles.h"

TPrivateBus::~TPrivateBus() {
    if (FDaemon.state() == QProcess::NotRunning)
        return;
    FDaemon.terminate();
    if (!FDaemon.waitForFinished(2000))
        FDaemon.kill();
    FDaemon.waitForFinished(2000);
}

bool TPrivateBus::Start(QString *Error) {
    const auto Fail = [Error](const QString &Why) {
        if (Error)
            *Error = Why;
        return false;
    };
    if (!FDir.isValid())
        return Fail(QStringLiteral("no temporary folder"));
    const QString Config = FDir.filePath(QStringLiteral("bus.conf"));
    const QByteArray Text =
        R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" +
        FDir.path().toUtf8() +
        R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
    if (!WriteAll(Config, Text))
        return Fail(QStringLiteral("cannot write ") + Config);
    FDaemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FDaemon.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + Config, QStringLiteral("--print-address"),
                   QStringLiteral("--nofork")});
    if (!FDaemon.waitForStarted(5000))
        return Fail(QStringLiteral("dbus-daemon did not start: ") + FDaemon.errorString());
    while (!FDaemon.canReadLine())
        if (!FDaemon.waitForReadyRead(5000))
            return Fail(QStringLiteral("dbus-daemon gave no address"));
    FAddress = QString::fromUtf8(FDaemon.readLine()).trimmed();
    return !FAddress.isEmpty() || Fail(QStringLiteral("dbus-daemon gave an empty address"));
}
