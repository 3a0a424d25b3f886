#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <random>

// Line faults for the replies, drawn from one seeded generator so that a run
// with the same seed and the same requests misbehaves the same way. Every
// reply draws the same number of values whatever comes out, so one fault
// firing never shifts the draws of the next replies.
class FaultPlan
{
public:
    // Probabilities, 0 (never) to 1 (every reply).
    struct Rates {
        double drop = 0;     // no reply at all
        double corrupt = 0;  // one hex digit of the CRC changed
        double split = 0;    // the reply in 2 to 4 pieces, a few ms apart
        double noise = 0;    // printable junk (never '#') before the reply
        double late = 0;     // the reply 210 to 240 ms after the request
    };

    // What happens to one reply.
    struct Decision {
        bool drop = false;
        bool corrupt = false;
        int corruptDigit = 0;  // 0..3, the CRC's hex digits from the left
        int corruptStep = 1;   // 1..15 added to the digit's value, mod 16
        QList<int> cuts;       // ascending positions inside the frame text
        int gapMs = 0;         // between pieces
        QByteArray junk;       // sent before the frame
        int delayMs = 0;       // before the first character
        bool operator==(const Decision &other) const;
    };

    FaultPlan(const Rates &rates, quint32 seed);

    Decision next();

    // The reply's text as it goes on the line: junk, then the frame with the
    // CRC digit changed, cut into pieces. A dropped reply gives no pieces.
    static QList<QByteArray> shape(const Decision &decision, const QByteArray &frameText);

    static constexpr int LateMinMs = 210;
    static constexpr int LateMaxMs = 240;

private:
    double uniform();
    int between(int low, int high);  // inclusive

    Rates rates;
    std::mt19937 rng;
};
