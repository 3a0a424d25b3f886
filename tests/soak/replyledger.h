#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class VirtualSupply;
class WindowView;

// Everything one supply sent, kept as what a window may show for it: for
// every read reply that arrived whole (checksum good), the text of the page
// it fills and of the log line it makes; for every write, how many
// acknowledgements the supply sent (judged, as the window judges them, by
// their access byte alone).
class ReplyLedger : public QObject
{
    Q_OBJECT

public:
    ReplyLedger(VirtualSupply *supply, const WindowView *view, QObject *parent = nullptr);

    QSet<QString> status, measurements, setpoints, calibration, userParams;
    QSet<QString> displayLogValues, adcLogValues;

    // Replies to a write of command that a window accepts as its
    // acknowledgement.
    int acks(quint8 command) const { return ackCount.value(command); }
    // Intact read replies of command.
    int reads(quint8 command) const { return readCount.value(command); }
    // Intact read replies whose data does not carry the traceable pattern.
    int untraceable = 0;

private slots:
    void take(const QByteArray &text);

private:
    const WindowView *view;
    QHash<quint8, int> ackCount;
    QHash<quint8, int> readCount;
};
