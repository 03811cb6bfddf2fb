#pragma once

#include <QHostAddress>
#include <QTcpServer>

// A port on Address that refuses connections: it was free a moment ago.
inline quint16 RefusingPort(const QHostAddress &Address = QHostAddress(QHostAddress::LocalHost)) {
    QTcpServer Probe;
    Probe.listen(Address, 0);
    return Probe.serverPort();
}
