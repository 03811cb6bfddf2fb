#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class TSharingState;

// Announces this copy's doors on the local network by DNS-SD through the Avahi daemon, so
// clients that browse the network list the speaker by name. Avahi's client runs on a thread of
// its own (its calls to the daemon can wait); only its state comes back to the GUI thread,
// queued. Where no daemon or system bus runs, nothing is announced and nothing waits; a daemon
// that starts later is found then.
class TServiceAnnouncer : public QObject {
    Q_OBJECT
public:
    struct TService {
        QByteArray Type; // "_mpd._tcp"
        quint16 Port = 0;
        QByteArrayList Txt; // "key=value" entries
        friend bool operator==(const TService &, const TService &) = default;
    };

    explicit TServiceAnnouncer(QObject *Parent = nullptr);
    // Withdraws what was announced.
    ~TServiceAnnouncer() override;

    // Announces Services under Name (another name is tried when that one is taken on the
    // network), replacing what was announced; no services withdraws everything.
    void Publish(const QString &Name, const QList<TService> &Services);
    // Whether the daemon has taken the services, and the name it took them under.
    bool IsAnnounced() const { return FAnnounced; }
    QString AnnouncedName() const { return FAnnouncedName; }

Q_SIGNALS:
    // The daemon took the services (Announced), or dropped them or went away.
    void StateChanged(bool Announced, const QString &Name);

private:
    struct TState;
    void Report(bool Announced, const QString &Name);

    std::shared_ptr<TState> FState;
    bool FAnnounced = false;
    QString FAnnouncedName;
};

// Announces this copy's doors under Name (empty: the speaker's name, followed as it changes)
// while others may use them (Sharing's allow switch): "_vellox._tcp" on CommandPort with the
// media port in its TXT record ("media=37401"), and "_mpd._tcp" on MpdPort (0: no MPD door).
// Sharing must outlive it.
std::unique_ptr<TServiceAnnouncer> AnnounceDoors(const QString &Name, const TSharingState &Sharing,
                                                 quint16 CommandPort, quint16 MediaPort,
                                                 quint16 MpdPort);
