#pragma once

#include "records.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>

#include <optional>

// One value of a supply as last known, and when it became known.
template <typename Record>
struct KnownValue {
    std::optional<Record> value;  // unknown until read (or confirmed written)
    qint64 atMs = 0;              // by the states' clock
};

// What one supply holds as far as this program knows: the last good status
// (with the output switch), measurement and set-points.
struct SupplyState {
    KnownValue<StatusRecord> status;
    KnownValue<MeasurementRecord> measurement;
    KnownValue<SetpointRecord> setpoints;
};

// The supplies of one line, one state per address, fed by every reply the
// link pairs with a request, whichever user of the line asked (the owner makes
// the attached programs' exchanges on its link, so it sees theirs too), and
// by every write the supply acknowledged. An attached program's states are
// fed with what the owner heard, its own exchanges among them, so that every
// program on the line knows the same.
class SupplyStates : public QObject
{
    Q_OBJECT

public:
    explicit SupplyStates(QObject *parent = nullptr);

    // The state of address; every value unknown when nothing was heard.
    SupplyState At(quint8 address) const { return states.value(address); }
    // Milliseconds since the value was known, or -1 while it is unknown.
    template <typename Record>
    qint64 AgeMs(const KnownValue<Record> &known) const
    {
        return known.value ? clock.elapsed() - known.atMs : -1;
    }

    // A good reply to a read of command from address (decoded, header to CRC),
    // heard ageMs ago. A value older than the one known does not replace it.
    void NoteReply(quint8 address, quint8 command, const QByteArray &reply, qint64 ageMs = 0);
    // A write of command to address that the supply acknowledged ageMs ago,
    // with the payload it carried.
    void NoteWritten(quint8 address, quint8 command, const QByteArray &payload, qint64 ageMs = 0);
    // Everything known is forgotten: a new connection, whose supplies may
    // have been switched or power-cycled meanwhile.
    void Clear();

signals:
    void changed(quint8 address);

private:
    QMap<quint8, SupplyState> states;
    QElapsedTimer clock;
};
