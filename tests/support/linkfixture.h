#pragma once

#include "commandset.h"
#include "devicelink.h"
#include "replyframe.h"
#include "stdoutcapture.h"
#include "virtualsupply.h"

#include <QSerialPort>
#include <QtTest>

#include <memory>

// A DeviceLink on a real QSerialPort, whose other end is the virtual supply
// running in this process (it answers while the link pumps the event loop).
class LinkFixture
{
public:
    explicit LinkFixture(VirtualSupply::Options options = {})
    {
        options.address = Address;
        supply = std::make_unique<VirtualSupply>(options);
        QString error;
        opened = supply->open(&error);
        if (!opened)
            qWarning("virtual supply: %s", qPrintable(error));
        port.setPortName(supply->portPath());
        opened = opened && port.open(QIODevice::ReadWrite);
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        link.SetPort(&port);
    }

    // A reply frame from the supply: destination master, the supply's address,
    // the command and the access code, then data, CRC and terminator.
    static QByteArray Reply(quint8 command, quint8 access, const QByteArray &data,
                            quint8 destination = DeviceLink::MasterAddress)
    {
        return ReplyFrame(Address, command, access, data, destination);
    }

    // A status read as the transaction sees it, with the trace it writes.
    struct TracedRead {
        LinkResult result = LinkResult::NoReply;
        QByteArray out;
        quint8 count = 0;
        QByteArray trace;
    };
    TracedRead TracedStatusRead();

    static constexpr quint8 Address = 1;
    bool opened = false;
    std::unique_ptr<VirtualSupply> supply;
    QSerialPort port;
    DeviceLink link;
};

// Runs f with the standard output captured and returns what was written.
template <typename F>
QByteArray CaptureTrace(F f)
{
    StdoutCapture capture;
    f();
    return capture.text();
}

inline LinkFixture::TracedRead LinkFixture::TracedStatusRead()
{
    TracedRead read;
    read.trace = CaptureTrace([&] {
        read.result = link.ReadTransaction(read.out, read.count, Address, CommandSet::Status,
                                           CommandSet::StatusReply.min, 200,
                                           CommandSet::AccessRead);
    });
    return read;
}
