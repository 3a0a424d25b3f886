#pragma once

#include "devicelink.h"

// The frame text of a reply from the supply at source: destination (the
// master unless given), source, command, access code, data, CRC, terminator.
inline QByteArray ReplyFrame(quint8 source, quint8 command, quint8 access, const QByteArray &data,
                             quint8 destination = DeviceLink::MasterAddress)
{
    QByteArray bytes;
    bytes.append(char(destination));
    bytes.append(char(source));
    bytes.append(char(command));
    bytes.append(char(access));
    bytes.append(data);
    return DeviceLink::EncodeFrame(bytes);
}
