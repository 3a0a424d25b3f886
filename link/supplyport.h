#pragma once

#include <QString>

class QSerialPort;

// Opens the port at path with the supply's line settings (9600 baud, 8N1, no
// flow control) and drops whatever the line held before. The path is first
// resolved to the device itself (symbolic links followed), so that two names
// of one device share one lock. False with the system's reason when the port
// cannot be opened or set up; busy, when given, tells whether another program
// holds the port (the reason then names it).
bool OpenSupplyPort(QSerialPort &port, const QString &path, QString *reason, bool *busy = nullptr);

// The device a port path or name names: its canonical path, or path itself
// when it does not resolve (a missing device); on Windows the COM port name
// as WindowsPortName gives it.
QString SupplyPortDevice(const QString &path);

// Who holds the lock on the device: "program (pid N)", or empty when nobody
// does or it cannot be told; on Windows, which does not tell, "another
// program" for a port that refused to open.
QString SupplyPortHolder(const QString &device);
