#pragma once

#include "linemember.h"
#include "linerequest.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A reply or an acknowledged write that the owner heard on the line, passed
// to the attached programs for their supplies' states.
struct LineHeard {
    bool written = false;  // bytes: the write's payload; else the read's reply
    quint8 address = 0;
    quint8 command = 0;
    QByteArray bytes;
    qint64 atMs = 0;  // when it was heard, by LineClockMs
};

// What the programs on a shared line say to each other over the local
// socket: each message a 32-bit length, then its body.
struct LineMessage {
    enum class Type : quint8 {
        Hello = 1,  // an attaching program: who it is (member)
        Doing,      // what it does now (member)
        Request,    // an exchange to be made (serial, request)
        Outcome,    // what became of it (serial, outcome)
        Members,    // everybody on the line, the owner first (members)
        Heard,      // what the owner heard on the line (heard)
    };
    Type type = Type::Hello;
    quint32 serial = 0;
    LineMember member;
    LineRequest request;
    LineOutcome outcome;
    QList<LineMember> members;
    LineHeard heard;
    // A request: when its program gives up waiting, on the machine's
    // monotonic clock (LineClockMs), so that an owner that was stalled does
    // not make exchanges that would end after that.
    qint64 answerByMs = 0;

    // Bumped whenever a body changes, so that two builds never misread each other.
    static constexpr quint16 Version = 3;
    // No message comes near this; a length beyond it is a stream out of step.
    static constexpr quint32 MaxBody = 64 * 1024;
    // A frame's decoded bytes are far fewer (a length byte counts its payload).
    static constexpr int MaxHeardBytes = 512;
};

// Milliseconds on a clock that every program on this machine reads alike and
// that never goes back.
qint64 LineClockMs();

QByteArray EncodeLineMessage(const LineMessage &message);

// What TakeLineMessage found at the front of a stream.
enum class LineMessageTaken { Whole, Partial, Malformed };
// Takes the first whole message off buffer into message.
LineMessageTaken TakeLineMessage(QByteArray &buffer, LineMessage &message);
