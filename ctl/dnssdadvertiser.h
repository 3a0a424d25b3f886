#pragma once

#include "dnssdrecords.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

// Advertises instruments over DNS-SD (mDNS) through the system's Avahi
// daemon, each instrument's services under one instance name, until it is
// destroyed. Whatever the daemon does, serving goes on: where no daemon (or
// no system bus) answers, it tells Unavailable once and advertises as soon
// as one does; when the daemon goes away and comes back, it advertises again.
// A name another host already uses gives way to Avahi's alternative
// ("name #2"), told in Advertised.
//
// The daemon's client library waits for its replies, so the talk with the
// daemon runs on a thread of its own and a stuck daemon never holds up the
// serving; what it has to tell arrives as signals on the creating thread.
// Built without Avahi, Available() is false and Start() does nothing.
class DnsSdAdvertiser : public QObject
{
    Q_OBJECT

public:
    static bool Available();

    explicit DnsSdAdvertiser(QObject *parent = nullptr);
    ~DnsSdAdvertiser() override;

    // Once: the instruments to advertise, and where their services listen.
    void Start(const DnsSdScope &scope, const QList<DnsSdInstrument> &instruments);

signals:
    // Every service of the instrument at address is announced under name.
    void Advertised(quint8 address, const QString &name);
    // Nothing can be advertised now, for reason (the daemon's own words);
    // told again only after a change.
    void Unavailable(const QString &reason);
    // The instrument at address cannot be advertised, for reason, until the
    // daemon starts over.
    void Failed(quint8 address, const QString &reason);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
