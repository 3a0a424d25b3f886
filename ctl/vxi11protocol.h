#pragma once

// The VXI-11 core and abort channels and the portmapper as values: program
// numbers, procedures, error codes, and the argument structures decoded from
// XDR (nothing when they are malformed).

#include "oncrpc.h"

#include <QByteArray>

#include <optional>

namespace Vxi11 {

constexpr quint32 CoreProgram = 0x0607AF;
constexpr quint32 AbortProgram = 0x0607B0;
constexpr quint32 InterruptProgram = 0x0607B1;
constexpr quint32 ProgramVersion = 1;

enum Procedure : quint32 {
    DeviceAbort = 1,  // on the abort channel
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
    DeviceClear = 15,
    DeviceRemote = 16,
    DeviceLocal = 17,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DeviceEnableSrq = 20,
    DeviceDoCmd = 22,
    DestroyLink = 23,
    CreateInterruptChannel = 25,
    DestroyInterruptChannel = 26,
};

enum Error : qint32 {
    NoError = 0,
    SyntaxError = 1,
    DeviceNotAccessible = 3,
    InvalidLink = 4,
    ParameterError = 5,
    NotSupported = 8,
    OutOfResources = 9,
    DeviceLocked = 11,
    NoLockHeld = 12,
    IoTimeout = 15,
    IoError = 17,
    Aborted = 23,
};

// Device_Flags
constexpr qint32 WaitLockFlag = 1;
constexpr qint32 EndFlag = 8;
constexpr qint32 TermCharSetFlag = 128;
// Why a read ended.
constexpr qint32 ReasonRequestCount = 1;
constexpr qint32 ReasonTermChar = 2;
constexpr qint32 ReasonEnd = 4;

// The longest device name and write taken: the names are short, and a
// write's data is at most what create_link announced (see MaxReceive),
// with room for clients that send a little more.
constexpr quint32 MaxDeviceName = 256;
constexpr quint32 MaxReceive = 4096;
constexpr quint32 MaxWriteData = 64 * 1024;

struct CreateLinkParms {
    qint32 clientId = 0;
    bool lockDevice = false;
    quint32 lockTimeout = 0;
    QByteArray device;
};
struct WriteParms {
    quint32 link = 0;
    quint32 ioTimeout = 0;
    quint32 lockTimeout = 0;
    qint32 flags = 0;
    QByteArray data;
};
struct ReadParms {
    quint32 link = 0;
    quint32 requestSize = 0;
    quint32 ioTimeout = 0;
    quint32 lockTimeout = 0;
    qint32 flags = 0;
    char termChar = 0;
};
// Device_GenericParms; device_lock's arguments fill link, flags and
// lockTimeout; device_unlock's, destroy_link's and device_abort's the link.
struct GenericParms {
    quint32 link = 0;
    qint32 flags = 0;
    quint32 lockTimeout = 0;
    quint32 ioTimeout = 0;
};

std::optional<CreateLinkParms> ReadCreateLink(XdrReader &reader);
std::optional<WriteParms> ReadWrite(XdrReader &reader);
std::optional<ReadParms> ReadRead(XdrReader &reader);
std::optional<GenericParms> ReadGeneric(XdrReader &reader);
std::optional<GenericParms> ReadLock(XdrReader &reader);
std::optional<GenericParms> ReadLinkOnly(XdrReader &reader);

QByteArray CreateLinkResult(qint32 error, quint32 link, quint16 abortPort, quint32 maxReceive);
QByteArray WriteResult(qint32 error, quint32 size);
QByteArray ReadResult(qint32 error, qint32 reason, const QByteArray &data);
QByteArray ReadStbResult(qint32 error, quint8 statusByte);
QByteArray ErrorResult(qint32 error);

}  // namespace Vxi11

namespace Portmap {

constexpr quint32 Program = 100000;
constexpr quint32 Version = 2;
constexpr quint16 DefaultPort = 111;
enum Procedure : quint32 { Null = 0, Set = 1, Unset = 2, GetPort = 3, Dump = 4 };
constexpr quint32 Tcp = 6;
constexpr quint32 Udp = 17;

struct Mapping {
    quint32 program = 0;
    quint32 version = 0;
    quint32 protocol = 0;
    quint32 port = 0;
};

std::optional<Mapping> ReadMapping(XdrReader &reader);
void WriteMapping(XdrWriter &writer, const Mapping &mapping);

}  // namespace Portmap
