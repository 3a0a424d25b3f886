// The advertiser on Avahi's client library, on a thread of Avahi's own
// (its threaded poll): every call into the library and every callback from
// it runs there, holding the poll's lock; the Qt side only starts and stops
// that thread.

#include "dnssdadvertiser.h"

#include <QMetaObject>

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <vector>

namespace {

// How often a missing system bus is looked for again (a missing daemon is
// waited for by the library itself, told by the bus when it starts).
constexpr int BusRetrySeconds = 5;
// Alternative names tried in a row before the instrument is given up.
constexpr int MaxRenames = 100;

}  // namespace

struct DnsSdAdvertiser::Private {
    struct Entry {
        Private *d = nullptr;
        DnsSdInstrument instrument;
        AvahiEntryGroup *group = nullptr;
        QByteArray name;  // the name asked for now
        int renames = 0;
    };

    explicit Private(DnsSdAdvertiser *owner) : owner(owner) {}
    ~Private();

    static void Connect(AvahiTimeout *, void *data);
    static void ClientChanged(AvahiClient *client, AvahiClientState state, void *data);
    static void GroupChanged(AvahiEntryGroup *group, AvahiEntryGroupState state, void *data);

    // Schedules Connect() after seconds.
    void ConnectAfter(int seconds);
    // Announces every instrument not announced yet.
    void RegisterAll(AvahiClient *client);
    // Adds the entry's services under its name and commits them; true
    // unless it failed (and was told).
    bool Register(Entry &entry);
    void Rename(Entry &entry);
    void ForgetGroups();
    void TellUnavailable(const QString &reason);
    void TellFailed(const Entry &entry, int error);

    DnsSdAdvertiser *owner;
    AvahiThreadedPoll *poll = nullptr;
    AvahiClient *client = nullptr;
    AvahiTimeout *timer = nullptr;
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
    std::vector<Entry> entries;
    QString toldUnavailable;  // the reason told last, empty once advertising
};

bool DnsSdAdvertiser::Available()
{
    return true;
}

DnsSdAdvertiser::DnsSdAdvertiser(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

DnsSdAdvertiser::~DnsSdAdvertiser() = default;

DnsSdAdvertiser::Private::~Private()
{
    if (!poll)
        return;
    avahi_threaded_poll_stop(poll);
    // The thread is over: freeing the client withdraws the services.
    if (client)
        avahi_client_free(client);
    avahi_threaded_poll_free(poll);
}

void DnsSdAdvertiser::Start(const DnsSdScope &scope, const QList<DnsSdInstrument> &instruments)
{
    if (d->poll || instruments.isEmpty())
        return;
    d->interface = scope.interfaceIndex > 0 ? AvahiIfIndex(scope.interfaceIndex) : AVAHI_IF_UNSPEC;
    d->protocol = scope.family == DnsSdScope::Family::IPv4   ? AVAHI_PROTO_INET
                  : scope.family == DnsSdScope::Family::IPv6 ? AVAHI_PROTO_INET6
                                                             : AVAHI_PROTO_UNSPEC;
    // Fixed from here on: the callbacks hold pointers to the entries.
    d->entries.reserve(size_t(instruments.size()));
    for (const DnsSdInstrument &instrument : instruments)
        d->entries.push_back({d.get(), instrument, nullptr, {}, 0});
    d->poll = avahi_threaded_poll_new();
    if (!d->poll) {
        d->TellUnavailable(QString::fromUtf8(avahi_strerror(AVAHI_ERR_NO_MEMORY)));
        return;
    }
    // The client is made on the thread too: making it already waits for
    // the daemon's replies.
    d->ConnectAfter(0);
    if (avahi_threaded_poll_start(d->poll) < 0) {
        avahi_threaded_poll_free(d->poll);
        d->poll = nullptr;
        d->TellUnavailable(QStringLiteral("cannot start a thread"));
    }
}

void DnsSdAdvertiser::Private::ConnectAfter(int seconds)
{
    timeval when{};
    avahi_elapse_time(&when, unsigned(seconds) * 1000, 0);
    const AvahiPoll *api = avahi_threaded_poll_get(poll);
    if (timer)
        api->timeout_update(timer, &when);
    else
        timer = api->timeout_new(api, &when, &Private::Connect, this);
}

void DnsSdAdvertiser::Private::Connect(AvahiTimeout *, void *data)
{
    auto *d = static_cast<Private *>(data);
    avahi_threaded_poll_get(d->poll)->timeout_update(d->timer, nullptr);
    // A client that failed is let go first, its groups with it.
    if (d->client) {
        avahi_client_free(d->client);
        d->client = nullptr;
        d->ForgetGroups();
    }
    int error = 0;
    // NO_FAIL: without a daemon the client waits for one to start.
    AvahiClient *client =
        avahi_client_new(avahi_threaded_poll_get(d->poll), AVAHI_CLIENT_NO_FAIL, &Private::ClientChanged, d, &error);
    if (!client) {
        // No system bus at all: looked for again later.
        d->TellUnavailable(QString::fromUtf8(avahi_strerror(error)));
        d->ConnectAfter(BusRetrySeconds);
        return;
    }
    d->client = client;
}

void DnsSdAdvertiser::Private::ClientChanged(AvahiClient *client, AvahiClientState state, void *data)
{
    auto *d = static_cast<Private *>(data);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        d->RegisterAll(client);
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        // The daemon's host name is changing: the services go up again,
        // under the new name, once it runs.
        for (Entry &entry : d->entries) {
            if (entry.group)
                avahi_entry_group_reset(entry.group);
        }
        break;
    case AVAHI_CLIENT_CONNECTING:
        d->TellUnavailable(QString::fromUtf8(avahi_strerror(AVAHI_ERR_NO_DAEMON)));
        break;
    case AVAHI_CLIENT_FAILURE:
        // The daemon or the bus went away: a new client waits for them and
        // tells how things stand. This one cannot be freed inside its own
        // callback; a second's pause keeps a client that fails at once from
        // spinning.
        d->ConnectAfter(1);
        break;
    }
}

void DnsSdAdvertiser::Private::RegisterAll(AvahiClient *client)
{
    for (Entry &entry : entries) {
        if (!entry.group) {
            entry.group = avahi_entry_group_new(client, &Private::GroupChanged, &entry);
            if (!entry.group) {
                TellFailed(entry, avahi_client_errno(client));
                continue;
            }
        }
        if (avahi_entry_group_is_empty(entry.group)) {
            entry.name = DnsSd::InstanceName(entry.instrument.name,
                                              QString::fromUtf8(avahi_client_get_host_name(client)))
                             .toUtf8();
            entry.renames = 0;
            Register(entry);
        }
    }
}

bool DnsSdAdvertiser::Private::Register(Entry &entry)
{
    for (;;) {
        int error = AVAHI_OK;
        for (const DnsSdService &service : entry.instrument.services) {
            AvahiStringList *txt = nullptr;
            for (auto it = service.txt.crbegin(); it != service.txt.crend(); ++it)
                txt = avahi_string_list_add_arbitrary(txt, reinterpret_cast<const uint8_t *>(it->constData()),
                                                      size_t(it->size()));
            error = avahi_entry_group_add_service_strlst(entry.group, interface, protocol, AvahiPublishFlags(0),
                                                         entry.name.constData(), service.type.constData(), nullptr,
                                                         nullptr, service.port, txt);
            avahi_string_list_free(txt);
            if (error != AVAHI_OK)
                break;
        }
        if (error == AVAHI_ERR_COLLISION && entry.renames < MaxRenames) {
            // Another service of this host has the name.
            avahi_entry_group_reset(entry.group);
            Rename(entry);
            continue;
        }
        if (error == AVAHI_OK)
            error = avahi_entry_group_commit(entry.group);
        if (error != AVAHI_OK) {
            avahi_entry_group_reset(entry.group);
            TellFailed(entry, error);
            return false;
        }
        return true;
    }
}

void DnsSdAdvertiser::Private::Rename(Entry &entry)
{
    char *alternative = avahi_alternative_service_name(entry.name.constData());
    entry.name = QByteArray(alternative);
    avahi_free(alternative);
    ++entry.renames;
}

void DnsSdAdvertiser::Private::GroupChanged(AvahiEntryGroup *group, AvahiEntryGroupState state, void *data)
{
    auto *entry = static_cast<Entry *>(data);
    Private *d = entry->d;
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED: {
        d->toldUnavailable.clear();
        const quint8 address = entry->instrument.address;
        const QString name = QString::fromUtf8(entry->name);
        DnsSdAdvertiser *owner = d->owner;
        QMetaObject::invokeMethod(owner, [owner, address, name] { emit owner->Advertised(address, name); },
                                  Qt::QueuedConnection);
        break;
    }
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Another host has the name.
        if (entry->renames >= MaxRenames) {
            d->TellFailed(*entry, AVAHI_ERR_COLLISION);
            break;
        }
        d->Rename(*entry);
        avahi_entry_group_reset(group);
        d->Register(*entry);
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        d->TellFailed(*entry, avahi_client_errno(avahi_entry_group_get_client(group)));
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void DnsSdAdvertiser::Private::ForgetGroups()
{
    for (Entry &entry : entries)
        entry.group = nullptr;
}

void DnsSdAdvertiser::Private::TellUnavailable(const QString &reason)
{
    if (reason == toldUnavailable)
        return;
    toldUnavailable = reason;
    DnsSdAdvertiser *advertiser = owner;
    QMetaObject::invokeMethod(advertiser, [advertiser, reason] { emit advertiser->Unavailable(reason); },
                              Qt::QueuedConnection);
}

void DnsSdAdvertiser::Private::TellFailed(const Entry &entry, int error)
{
    const quint8 address = entry.instrument.address;
    const QString reason = QString::fromUtf8(avahi_strerror(error));
    DnsSdAdvertiser *advertiser = owner;
    QMetaObject::invokeMethod(advertiser, [advertiser, address, reason] { emit advertiser->Failed(address, reason); },
                              Qt::QueuedConnection);
}
