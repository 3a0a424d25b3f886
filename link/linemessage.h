#pragma once

#include "linemember.h"
#include "linerequest.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What the programs on a shared line say to each other over the local
// socket: each message a 32-bit length, then its body.
struct LineMessage {
    enum class Type : quint8 {
        Hello = 1,  // an attaching program: who it is (member)
        Doing,      // what it does now (member)
        Request,    // an exchange to be made (serial, request)
        Outcome,    // what became of it (serial, outcome)
        Members,    // everybody on the line, the owner first (members)
    };
    Type type = Type::Hello;
    quint32 serial = 0;
    LineMember member;
    LineRequest request;
    LineOutcome outcome;
    QList<LineMember> members;
    // A request: when its program gives up waiting, on the machine's
    // monotonic clock (LineClockMs), so that an owner that was stalled does
    // not make exchanges that would end after that.
    qint64 answerByMs = 0;

    // Bumped whenever a body changes, so that two builds never misread each other.
    static constexpr quint16 Version = 2;
    // No message comes near this; a length beyond it is a stream out of step.
    static constexpr quint32 MaxBody = 64 * 1024;
};

// Milliseconds on a clock that every program on this machine reads alike and
// that never goes back.
qint64 LineClockMs();

QByteArray EncodeLineMessage(const LineMessage &message);

// What TakeLineMessage found at the front of a stream.
enum class LineMessageTaken { Whole, Partial, Malformed };
// Takes the first whole message off buffer into message.
LineMessageTaken TakeLineMessage(QByteArray &buffer, LineMessage &message);
