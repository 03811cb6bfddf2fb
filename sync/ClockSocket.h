#pragma once

#include <QHostAddress>

#include <functional>

class QObject;
class QUdpSocket;

// A UDP socket of the clock exchange owned by Owner, bound to Address:Port (0: ephemeral),
// Read called when datagrams wait; nullptr, with a warning, when the port cannot be had.
QUdpSocket *OpenClockSocket(QObject *Owner, const QHostAddress &Address, quint16 Port,
                            const std::function<void()> &Read);
// Closes Socket, which may be inside its own signal (so it goes later), and clears it.
void CloseClockSocket(QUdpSocket *&Socket);
