#pragma once

#include "linkresult.h"

#include <QByteArray>
#include <QtGlobal>

// One exchange that a user of the line wants made with one supply on it.
struct LineRequest {
    enum class Kind { Read, Write };
    Kind kind = Kind::Read;
    quint8 address = 0;
    quint8 command = 0;
    quint8 access = 0;
    quint8 minLength = 0;  // a read: the shortest reply taken
    QByteArray payload;    // a write: what is written
    quint8 timeoutMs = 0;  // how long its reply is waited for; 0: the link's own
};

// What became of a request.
struct LineOutcome {
    LinkResult result = LinkResult::NoReply;
    QByteArray reply;       // a read's decoded reply, header through CRC
    bool notAsked = false;  // the address was being backed off: nothing was sent
};
