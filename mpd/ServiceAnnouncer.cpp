#include "ServiceAnnouncer.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include "SharingState.h"
#include "SpeakerSettings.h"

#include <QHostInfo>
#include <QMetaObject>

// Everything here but Owner is touched on Avahi's thread, or under its lock.
struct TServiceAnnouncer::TState {
    TServiceAnnouncer *Owner = nullptr;
    AvahiThreadedPoll *Poll = nullptr;
    AvahiClient *Client = nullptr;
    AvahiEntryGroup *Group = nullptr;
    QByteArray Name;
    QList<TService> Services;

    ~TState() {
        if (Poll)
            avahi_threaded_poll_stop(Poll);
        if (Client)
            avahi_client_free(Client); // frees the group too
        if (Poll)
            avahi_threaded_poll_free(Poll);
    }

    void Report(bool Announced) {
        const QString Shown = QString::fromUtf8(Name);
        TServiceAnnouncer *To = Owner;
        // The owner stops this thread before it goes, so it is there when this is posted.
        QMetaObject::invokeMethod(
            To, [To, Announced, Shown] { To->Report(Announced, Shown); }, Qt::QueuedConnection);
    }

    // Another name for the next try: "Name #2", "Name #3" ...
    void Rename() {
        char *Other = avahi_alternative_service_name(Name.constData());
        Name = Other;
        avahi_free(Other);
    }

    void Connect() {
        int Error = 0;
        // NO_FAIL: without a daemon the client waits for one instead of failing.
        Client = avahi_client_new(avahi_threaded_poll_get(Poll), AVAHI_CLIENT_NO_FAIL,
                                  &TState::OnClient, this, &Error);
    }

    void Announce(AvahiClient *C) {
        if (Group)
            avahi_entry_group_reset(Group);
        if (Services.isEmpty() || avahi_client_get_state(C) != AVAHI_CLIENT_S_RUNNING) {
            Report(false);
            return;
        }
        if (!Group && !(Group = avahi_entry_group_new(C, &TState::OnGroup, this)))
            return Report(false);
        for (int Tries = 0; Tries < 16; ++Tries) {
            int Result = AVAHI_OK;
            for (const TService &Service : std::as_const(Services)) {
                AvahiStringList *Txt = nullptr;
                for (const QByteArray &Entry : Service.Txt)
                    Txt = avahi_string_list_add(Txt, Entry.constData());
                Result = avahi_entry_group_add_service_strlst(
                    Group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                    Name.constData(), Service.Type.constData(), nullptr, nullptr, Service.Port,
                    Txt);
                avahi_string_list_free(Txt);
                if (Result < 0)
                    break;
            }
            if (Result == AVAHI_ERR_COLLISION) {
                Rename();
                avahi_entry_group_reset(Group);
                continue;
            }
            if (Result < 0 || avahi_entry_group_commit(Group) < 0)
                Report(false);
            return;
        }
    }

    static void OnClient(AvahiClient *C, AvahiClientState State, void *Data) {
        auto *S = static_cast<TState *>(Data);
        switch (State) {
        case AVAHI_CLIENT_S_RUNNING:
            S->Announce(C);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            if (S->Group)
                avahi_entry_group_reset(S->Group);
            break;
        case AVAHI_CLIENT_FAILURE:
            S->Report(false);
            S->Group = nullptr;
            if (avahi_client_errno(C) == AVAHI_ERR_DISCONNECTED) {
                // The daemon went away: wait for the next one.
                avahi_client_free(C);
                S->Client = nullptr;
                S->Connect();
            }
            break;
        case AVAHI_CLIENT_CONNECTING:
            break;
        }
    }

    static void OnGroup(AvahiEntryGroup *G, AvahiEntryGroupState State, void *Data) {
        auto *S = static_cast<TState *>(Data);
        switch (State) {
        case AVAHI_ENTRY_GROUP_ESTABLISHED:
            S->Report(true);
            break;
        case AVAHI_ENTRY_GROUP_COLLISION:
            S->Rename();
            S->Announce(avahi_entry_group_get_client(G));
            break;
        case AVAHI_ENTRY_GROUP_FAILURE:
            S->Report(false);
            break;
        default:
            break;
        }
    }
};

TServiceAnnouncer::TServiceAnnouncer(QObject *Parent) : QObject(Parent) {}

TServiceAnnouncer::~TServiceAnnouncer() = default;

void TServiceAnnouncer::Report(bool Announced, const QString &Name) {
    if (Announced == FAnnounced && Name == FAnnouncedName)
        return;
    FAnnounced = Announced;
    FAnnouncedName = Announced ? Name : QString();
    Q_EMIT StateChanged(FAnnounced, FAnnouncedName);
}

void TServiceAnnouncer::Publish(const QString &Name, const QList<TService> &Services) {
    // DNS-SD names are at most 63 bytes.
    QByteArray Label = Name.toUtf8().left(63);
    if (!FState) {
        if (Services.isEmpty())
            return;
        auto State = std::make_shared<TState>();
        State->Owner = this;
        State->Name = Label;
        State->Services = Services;
        if (!(State->Poll = avahi_threaded_poll_new()))
            return;
        // The client is made on Avahi's thread: its first calls to the daemon can wait.
        const AvahiPoll *Api = avahi_threaded_poll_get(State->Poll);
        timeval Now{0, 0};
        Api->timeout_new(
            Api, &Now, [](AvahiTimeout *, void *Data) { static_cast<TState *>(Data)->Connect(); },
            State.get());
        if (avahi_threaded_poll_start(State->Poll) < 0) {
            avahi_threaded_poll_free(State->Poll);
            return;
        }
        FState = std::move(State);
        return;
    }
    avahi_threaded_poll_lock(FState->Poll);
    if (FState->Name != Label || FState->Services != Services) {
        FState->Name = Label;
        FState->Services = Services;
        if (FState->Client)
            FState->Announce(FState->Client);
    }
    avahi_threaded_poll_unlock(FState->Poll);
}

std::unique_ptr<TServiceAnnouncer> AnnounceDoors(const QString &Name, const TSharingState &Sharing,
                                                 quint16 CommandPort, quint16 MediaPort,
                                                 quint16 MpdPort) {
    auto Announcer = std::make_unique<TServiceAnnouncer>();
    QList<TServiceAnnouncer::TService> Services;
    if (CommandPort)
        Services.append({"_vellox._tcp", CommandPort, {"media=" + QByteArray::number(MediaPort)}});
    if (MpdPort)
        Services.append({"_mpd._tcp", MpdPort, {}});
    const auto Follow = [Announcer = Announcer.get(), &Sharing, Name, Services] {
        const QString Shown = Name.isEmpty() ? SpeakerSettings().Name() : Name;
        // With others kept out the doors listen on loopback only: nothing to announce.
        Announcer->Publish(Shown.isEmpty() ? QHostInfo::localHostName() : Shown,
                           Sharing.AllowOthers() ? Services : QList<TServiceAnnouncer::TService>());
    };
    QObject::connect(&Sharing, &TSharingState::Changed, Announcer.get(), Follow);
    if (Name.isEmpty())
        QObject::connect(&SpeakerSettings(), &TSpeakerSettings::NameChanged, Announcer.get(),
                         Follow);
    Follow();
    return Announcer;
}
