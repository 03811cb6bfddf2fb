#include "AddressChanges.h"

#include <cerrno>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

TAddressChanges::TAddressChanges() {
    FSocket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (FSocket < 0)
        return;
    sockaddr_nl Address{};
    Address.nl_family = AF_NETLINK;
    Address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (::bind(FSocket, reinterpret_cast<sockaddr *>(&Address), sizeof Address) != 0) {
        ::close(FSocket);
        FSocket = -1;
    }
}

TAddressChanges::~TAddressChanges() {
    if (FSocket >= 0)
        ::close(FSocket);
}

bool TAddressChanges::Take() {
    bool Changed = FFirst || FSocket < 0;
    FFirst = false;
    if (FSocket < 0)
        return Changed;
    char Buffer[8192];
    for (;;) {
        const ssize_t N = ::recv(FSocket, Buffer, sizeof Buffer, MSG_DONTWAIT);
        if (N > 0)
            Changed = true;
        else if (N < 0 && errno == EINTR)
            continue;
        else if (N < 0 && errno == ENOBUFS)
            Changed = true; // reports were lost: look anyway
        else
            return Changed;
    }
}
