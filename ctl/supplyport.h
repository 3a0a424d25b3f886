#pragma once

#include <QString>

class QSerialPort;

// Which port to use: the one given, else $VELKARO_PORT, else the only serial
// port the system lists. Empty, with the reason in error, when none or several
// are found.
QString ChoosePortPath(const QString &given, QString *error);

// Opens path at 9600 baud, 8N1, without flow control, and drops whatever the
// line held before. False with the system's reason when the port cannot be
// opened or set up.
bool OpenSupplyPort(QSerialPort &port, const QString &path, QString *reason);
