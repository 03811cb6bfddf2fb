#pragma once

// Whether this computer's interfaces or IPv4 addresses may have changed since the last look:
// a netlink socket the kernel tells of every such change, read without waiting. Lets a watcher
// that looks every second skip the full interface scan while nothing changed.
class TAddressChanges {
public:
    TAddressChanges();
    ~TAddressChanges();
    TAddressChanges(const TAddressChanges &) = delete;
    TAddressChanges &operator=(const TAddressChanges &) = delete;

    // True on the first call, after any change the kernel reported (or a report lost to a full
    // queue), and always when the socket could not be opened.
    bool Take();

private:
    int FSocket = -1;
    bool FFirst = true;
};
