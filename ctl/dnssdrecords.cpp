#include "dnssdrecords.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include <algorithm>

namespace {

// Cut at a character boundary, never inside a UTF-8 sequence.
QByteArray Utf8Prefix(const QString &text, int maxBytes)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes)
        return bytes;
    int end = maxBytes;
    while (end > 0 && (quint8(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

QByteArray TxtString(const QByteArray &key, const QByteArray &value)
{
    return (key + '=' + value).left(DnsSd::MaxTxtBytes);
}

}  // namespace

namespace DnsSd {

DnsSdInstrument Instrument(const QByteArray &identity, quint8 address, quint16 rawPort,
                           std::optional<quint16> portmapperPort)
{
    const QList<QByteArray> fields = identity.split(',');
    const auto field = [&fields](int i) { return i < fields.size() ? fields.at(i).trimmed() : QByteArray(); };
    const QByteArray maker = field(0);
    const QByteArray model = field(1);
    const QByteArray number = QByteArray::number(address);
    // The keys LXI discovery tools read, and the address on the line.
    const QList<QByteArray> common{TxtString("txtvers", "1"),
                                   TxtString("Manufacturer", maker),
                                   TxtString("Model", model),
                                   TxtString("SerialNumber", field(2)),
                                   TxtString("FirmwareVersion", field(3)),
                                   TxtString("Address", number)};
    DnsSdInstrument instrument;
    instrument.address = address;
    instrument.name = QStringLiteral("%1 %2 address %3")
                          .arg(QString::fromUtf8(maker), QString::fromUtf8(model), QString::number(address))
                          .trimmed();
    instrument.services.append({"_scpi-raw._tcp", rawPort, common});
    if (portmapperPort) {
        // VISA asks the portmapper for the core channel; several instruments
        // behind one portmapper are told apart by their device name.
        const QList<QByteArray> vxi11 = common + QList<QByteArray>{TxtString("Device", "inst" + number)};
        instrument.services.append({"_vxi-11._tcp", *portmapperPort, vxi11});
        instrument.services.append({"_lxi._tcp", *portmapperPort, vxi11});
    }
    return instrument;
}

QString InstanceName(const QString &name, const QString &hostName)
{
    const QByteArray head = Utf8Prefix(name, MaxNameBytes);
    if (hostName.isEmpty())
        return QString::fromUtf8(head);
    const QByteArray on = " on ";
    if (head.size() + on.size() >= MaxNameBytes)
        return QString::fromUtf8(head);
    return QString::fromUtf8(head + on + Utf8Prefix(hostName, MaxNameBytes - head.size() - on.size()));
}

DnsSdScope ScopeOf(const QHostAddress &address)
{
    DnsSdScope scope;
    if (address == QHostAddress::AnyIPv4)
        scope.family = DnsSdScope::Family::IPv4;
    else if (address == QHostAddress::AnyIPv6)
        scope.family = DnsSdScope::Family::IPv6;
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        return scope;
    scope.family = address.protocol() == QAbstractSocket::IPv6Protocol ? DnsSdScope::Family::IPv6
                                                                        : DnsSdScope::Family::IPv4;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        const bool holds = address.isLoopback()
                               ? bool(interface.flags() & QNetworkInterface::IsLoopBack)
                               : std::any_of(entries.cbegin(), entries.cend(), [&](const QNetworkAddressEntry &entry) {
                                     return entry.ip().isEqual(address, QHostAddress::TolerantConversion);
                                 });
        if (holds) {
            scope.interfaceIndex = interface.index();
            break;
        }
    }
    return scope;
}

}  // namespace DnsSd
