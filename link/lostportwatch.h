#pragma once

#include <QObject>
#include <QSerialPort>
#include <QString>

// The one rule for a lost port: an open port that reports any error but
// NoError, TimeoutError or UnsupportedOperationError (a pseudo-terminal or an
// adapter without modem lines refuses DTR and RTS) has lost its line. The port
// is closed at that first error, because Qt otherwise repeats it without end,
// and PortLost is emitted once with the reason.
//
// A port has at most one watch, a child of the port found with For(), so every
// user sees the same loss whatever order they subscribed in.
class LostPortWatch : public QObject
{
    Q_OBJECT

public:
    // The port's watch, made on first use.
    static LostPortWatch *For(QSerialPort *port);

    // Why the port was lost, or empty while it is not.
    QString Reason() const { return reason; }

    // The reason's text for an error, with the system's own text when it has
    // a meaningful one.
    static QString Describe(QSerialPort::SerialPortError error, const QString &systemText);

signals:
    void PortLost(const QString &reason);

private slots:
    void PortError(QSerialPort::SerialPortError error);

private:
    explicit LostPortWatch(QSerialPort *port);

    QSerialPort *port;
    QString reason;
};
