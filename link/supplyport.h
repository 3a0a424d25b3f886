#pragma once

#include <QSerialPort>
#include <QString>

// Why a port did not open, as values: each front end says it in its own
// words (and language).
struct PortFailure {
    enum class Kind {
        None,
        NoName,  // no port was named
        Busy,    // another program holds it: holder and pid, when known
        System,  // the system refused: error and its text
    };
    Kind kind = Kind::None;
    QString holder;  // Busy: the holding program's name, empty when unknown
    qint64 pid = 0;  // Busy: its process id, 0 when unknown
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QString systemText;  // System: the system's own words
};

// The failure in English, for velkaroctl and the trace.
QString PortFailureText(const PortFailure &failure);

// Opens the port at path with the supply's line settings (9600 baud, 8N1, no
// flow control) and drops whatever the line held before. The path is first
// resolved to the device itself (symbolic links followed), so that two names
// of one device share one lock. False with the reason when the port cannot
// be opened or set up.
bool OpenSupplyPort(QSerialPort &port, const QString &path, PortFailure *failure);
// The same, with the reason in English; busy, when given, tells whether
// another program holds the port (the reason then names it).
bool OpenSupplyPort(QSerialPort &port, const QString &path, QString *reason, bool *busy = nullptr);

// The device a port path or name names: its canonical path, or path itself
// when it does not resolve (a missing device); on Windows the COM port name
// as WindowsPortName gives it.
QString SupplyPortDevice(const QString &path);

// Where and under which name QSerialPort keeps a device's lock file: the
// first of its folders that has it or may take it, "LCK.." followed by the
// path below /dev with each slash made an underscore. Empty where ports are
// not locked by file.
QString SupplyPortLockFile(const QString &device);

// Who holds the lock on the device: false when nobody does or it cannot be
// told. On Windows, which does not tell, true with no name for a port that
// refused to open.
bool SupplyPortHolderOf(const QString &device, QString *program, qint64 *pid);
// The same as "program (pid N)", or empty; "another program" when unnamed.
QString SupplyPortHolder(const QString &device);
