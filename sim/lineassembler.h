#pragma once

#include <QByteArray>
#include <QList>

// Cuts the received character stream into request lines, each from a start
// character through the next carriage return, both included. Characters
// outside a line are dropped; a start character inside a line begins the line
// anew, as a device resynchronises on it; a line that grows past maxChars is
// dropped whole, so junk without a carriage return cannot pile up.
class LineAssembler
{
public:
    explicit LineAssembler(int maxChars);

    // The lines completed by these bytes, in order.
    QList<QByteArray> feed(const QByteArray &bytes);
    void reset();

private:
    int maxChars;
    QByteArray partial;
    bool gathering = false;
};
