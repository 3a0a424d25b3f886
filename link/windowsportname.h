#pragma once

#include <QString>

// A serial port name as Windows users type it, in the form QSerialPort opens
// on Windows: "com3", "COM12" and "\\.\COM12" all become "COMn" in capitals
// (QSerialPort prefixes "\\.\" to a name that starts with "COM", which ports
// from COM10 up need); anything else is returned as it is. A plain string
// rule, so that it is checked on every platform.
QString WindowsPortName(const QString &name);
