#pragma once

#include "commandset.h"
#include "devicelink.h"
#include "ptyendpoint.h"
#include "replyframe.h"

#include <QList>
#include <QObject>
#include <QTimer>

// A supply on a pseudo-terminal whose every reply says which request it
// answers: a read's first two data bytes hold the request's number (1 for the
// first line received, little-endian), so that a test can tell a reply taken
// for the wrong request. It answers in the order asked, at once, unless
// stalled: then it keeps the requests and answers them all, one after
// another, on resume(), as a stopped process does when it is continued.
class ScriptedSupply : public QObject
{
public:
    explicit ScriptedSupply(quint8 address)
        : address(address)
    {
        connect(&endpoint, &PtyEndpoint::received, this, [this](const QByteArray &bytes) {
            held += bytes;
            for (int end = held.indexOf('\r'); end >= 0; end = held.indexOf('\r')) {
                Take(held.left(end + 1));
                held.remove(0, end + 1);
            }
        });
        // One line at a time, gapMs apart, as a supply answering a backlog.
        connect(&pacer, &QTimer::timeout, this, [this] {
            if (outgoing.isEmpty())
                return pacer.stop();
            endpoint.write(outgoing.takeFirst());
        });
    }

    bool Open(QString *error) { return endpoint.open(error); }
    QString PortPath() const { return endpoint.slavePath(); }

    void Stall() { stalled = true; }
    // Answers every request kept while stalled, in order, one reply every
    // gapMs.
    void Resume(int gapMs)
    {
        stalled = false;
        QList<QByteArray> lines;
        for (const Request &r : std::as_const(kept))
            lines.append(ReplyTo(r));
        kept.clear();
        WritePaced(lines, gapMs);
    }
    // Writes lines on the line, answering nothing, one every gapMs.
    void WritePaced(const QList<QByteArray> &lines, int gapMs)
    {
        outgoing += lines;
        pacer.start(gapMs);
    }
    // The next request is lost: never answered.
    void DropNext() { dropNext = true; }
    // A restart: the requests kept are never answered.
    void LoseKept() { kept.clear(); }
    // The next request gets these lines written just before its reply.
    void PrecedeNextReply(const QByteArray &lines) { preceding = lines; }
    // Writes lines on the line now, answering nothing.
    void Write(const QByteArray &lines) { endpoint.write(lines); }

    struct Request {
        int number;
        quint8 command;
        quint8 access;
    };
    // The number of the last request received for command, 0 when none.
    int LastNumberOf(quint8 command) const
    {
        for (int i = requests.size() - 1; i >= 0; --i) {
            if (requests.at(i).command == command)
                return requests.at(i).number;
        }
        return 0;
    }
    int KeptCount() const { return kept.size(); }
    // Every request received, in order.
    const QList<Request> &Requests() const { return requests; }

    // The full data length of a read reply to command.
    static int DataLength(quint8 command)
    {
        using namespace CommandSet;
        switch (command) {
        case Status:
            return StatusReply.full - HeaderBytes - CrcBytes;
        case Setpoints:
            return SetpointsReply.full - HeaderBytes - CrcBytes;
        case Measurements:
            return MeasurementsReply.full - HeaderBytes - CrcBytes;
        case Calibration:
            return CalibrationReply.full - HeaderBytes - CrcBytes;
        default:
            return UserParamsReply.full - HeaderBytes - CrcBytes;
        }
    }

    // A read reply from source whose first field holds number.
    static QByteArray NumberedReply(quint8 source, quint8 command, int number)
    {
        QByteArray data(DataLength(command), '\0');
        data[0] = char(number & 0xFF);
        data[1] = char(number >> 8);
        return ReplyFrame(source, command, CommandSet::AccessRead, data);
    }

private:
    void Take(const QByteArray &line)
    {
        QByteArray bytes;
        if (DeviceLink::DecodeLine(line, bytes) < 6 || quint8(bytes.at(0)) != address)
            return;
        const Request request{requests.size() + 1, quint8(bytes.at(2)), quint8(bytes.at(3))};
        requests.append(request);
        if (dropNext) {
            dropNext = false;
            return;
        }
        if (stalled) {
            kept.append(request);
            return;
        }
        endpoint.write(preceding + ReplyTo(request));
        preceding.clear();
    }

    QByteArray ReplyTo(const Request &r) const
    {
        if (r.access == CommandSet::AccessWrite)
            return ReplyFrame(address, r.command, CommandSet::AccessAccepted, {});
        return NumberedReply(address, r.command, r.number);
    }

    quint8 address;
    PtyEndpoint endpoint;
    QByteArray held;
    bool stalled = false;
    bool dropNext = false;
    QTimer pacer;
    QList<QByteArray> outgoing;
    QByteArray preceding;
    QList<Request> requests;
    QList<Request> kept;
};
