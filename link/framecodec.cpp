#include "commandset.h"
#include "devicelink.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <cstdio>
#include <cstring>

void DeviceLink::SetPort(QSerialPort *serialPort)
{
    port = serialPort;
    foreignFlowing = true;
    heardAt = -1;
}

bool DeviceLink::PortOpen() const
{
    return port && port->isOpen();
}

void DeviceLink::PortWrite(const char *chars, int count)
{
    if (!port || !port->isOpen())
        return;
    DrainOutput(200);
    port->write(chars, count);
    DrainOutput(200);
}

void DeviceLink::DrainOutput(int timeoutMs)
{
    // QSerialPort::waitForBytesWritten() goes on waiting for input after the
    // bytes are out, so it would hold every piece of a request for the whole
    // wait. Flushing hands the bytes to the driver at once; the blocking wait
    // is only for a driver that does not take them all.
    QElapsedTimer timer;
    timer.start();
    while (port->bytesToWrite() > 0) {
        port->flush();
        const qint64 left = timeoutMs - timer.elapsed();
        if (port->bytesToWrite() == 0 || left <= 0)
            break;
        port->waitForBytesWritten(int(left));
    }
}

bool DeviceLink::SendFrame(quint8 address, quint8 command, quint8 access, const quint8 *payload,
                           int length)
{
    if (!port || !port->isOpen())
        return false;
    QByteArray bytes;
    bytes.reserve(CommandSet::HeaderBytes + length);
    bytes.append(char(address));
    bytes.append(char(MasterAddress));
    bytes.append(char(command));
    bytes.append(char(access));
    bytes.append(reinterpret_cast<const char *>(payload), length);
    const QByteArray text = EncodeFrame(bytes);
    // The frame goes out a character pair at a time, each drained before the
    // next, as the supply has always been sent it.
    PortWrite(text.constData(), 1);
    for (int i = 1; i + 1 < text.size(); i += 2)
        PortWrite(text.constData() + i, 2);
    // The supply answers only once the terminator is in: what came before it
    // answers earlier requests, and is judged as such now.
    TakeInPending();
    PortWrite(text.constData() + text.size() - 1, 1);
    if (frameTrace)
        TraceFrame('>', text);
    return port->isOpen();
}

quint16 DeviceLink::CrcStep(quint16 crc, quint8 byte)
{
    crc ^= quint16(byte << 8);
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    return crc;
}

quint16 DeviceLink::CrcOver(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes)
        crc = CrcStep(crc, quint8(c));
    return crc;
}

bool DeviceLink::HexPairToByte(char first, char second, quint8 *byte)
{
    // The terminator and NUL must not match: strchr would find the string's end.
    if (first == '\0' || second == '\0')
        return false;
    const char *high = std::strchr(HexAlphabet, first);
    const char *low = std::strchr(HexAlphabet, second);
    if (!high || !low)
        return false;
    *byte = quint8(((high - HexAlphabet) << 4) | (low - HexAlphabet));
    return true;
}

int DeviceLink::DecodeLine(const QByteArray &line, QByteArray &out)
{
    const int start = line.indexOf(StartChar);
    if (start < 0)
        return -1;
    const int end = line.indexOf(Terminator, start + 1);
    out.clear();
    if (end < 0 || end == start + 1)
        return 0;
    const int bodyChars = end - start - 1;
    // No frame of the command set is longer; a longer body is not a reply.
    if (bodyChars > 2 * CommandSet::MaxFrameBytes)
        return -1;
    for (int i = start + 1; i < end; i += 2) {
        quint8 byte = 0;
        // An odd body makes the last pair take the terminator, which fails.
        if (!HexPairToByte(line.at(i), line.at(i + 1), &byte))
            return -1;
        out.append(char(byte));
    }
    return out.size();
}

QByteArray DeviceLink::EncodeFrame(const QByteArray &bytes)
{
    QByteArray text;
    text.reserve(2 + 2 * (bytes.size() + 2));
    text.append(StartChar);
    const quint16 crc = CrcOver(bytes);
    auto put = [&text](quint8 byte) {
        text.append(HexAlphabet[byte >> 4]);
        text.append(HexAlphabet[byte & 0x0F]);
    };
    for (char c : bytes)
        put(quint8(c));
    put(quint8(crc >> 8));
    put(quint8(crc & 0xFF));
    text.append(Terminator);
    return text;
}
