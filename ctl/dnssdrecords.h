#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QHostAddress;

// One DNS-SD service of an instrument: its type, the TCP port a client
// connects to, and its TXT strings ("key=value", at most 255 bytes each).
struct DnsSdService {
    QByteArray type;
    quint16 port = 0;
    QList<QByteArray> txt;
};

// What one instrument (one supply address) is advertised as: the instance
// name before the host's is added, and its services under that one name.
struct DnsSdInstrument {
    quint8 address = 0;
    QString name;
    QList<DnsSdService> services;
};

// Where the services are announced: only where the listening address can be
// reached from, so that nobody is shown an instrument they cannot connect to.
struct DnsSdScope {
    enum class Family { Any, IPv4, IPv6 };
    int interfaceIndex = 0;  // 0: every interface
    Family family = Family::Any;
};

namespace DnsSd {

// Longest instance name (a DNS label) in bytes of UTF-8.
constexpr int MaxNameBytes = 63;
constexpr int MaxTxtBytes = 255;

// The records of the instrument whose *IDN? response is identity
// ("maker,model,serial,firmware"), served on the raw socket at rawPort and,
// given a portmapper's port, as the VXI-11 device inst<address> found there.
DnsSdInstrument Instrument(const QByteArray &identity, quint8 address, quint16 rawPort,
                           std::optional<quint16> portmapperPort);
// The instance name to publish on hostName: name and " on " and the host,
// the host shortened when the whole would not fit a DNS label.
QString InstanceName(const QString &name, const QString &hostName);
// The scope of services listening on address: the interface that holds it
// (the loopback one for a loopback address), or every interface for an
// any-address; the address's family.
DnsSdScope ScopeOf(const QHostAddress &address);

}  // namespace DnsSd
