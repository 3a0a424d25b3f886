#include "faultplan.h"

#include <algorithm>

namespace {

constexpr int MaxJunk = 8;
constexpr int MaxPieces = 4;
// Frame text: '#', hex digits, four CRC digits, carriage return.
constexpr int CrcDigitsFromEnd = 5;

}  // namespace

bool FaultPlan::Decision::operator==(const Decision &other) const
{
    return drop == other.drop && corrupt == other.corrupt && corruptDigit == other.corruptDigit
        && corruptStep == other.corruptStep && cuts == other.cuts && gapMs == other.gapMs
        && junk == other.junk && delayMs == other.delayMs;
}

FaultPlan::FaultPlan(const Rates &rates, quint32 seed)
    : rates(rates)
    , rng(seed)
{
}

double FaultPlan::uniform()
{
    return rng() / 4294967296.0;
}

int FaultPlan::between(int low, int high)
{
    return low + int(rng() % quint32(high - low + 1));
}

FaultPlan::Decision FaultPlan::next()
{
    Decision d;
    d.drop = uniform() < rates.drop;
    d.corrupt = uniform() < rates.corrupt;
    const bool split = uniform() < rates.split;
    const bool noise = uniform() < rates.noise;
    const bool late = uniform() < rates.late;

    const int digit = between(0, 3);
    const int step = between(1, 15);
    if (d.corrupt) {
        d.corruptDigit = digit;
        d.corruptStep = step;
    }

    // Cuts are drawn as fractions of the text, since its length is not known
    // yet; shape() turns them into distinct positions.
    const int pieces = between(2, MaxPieces);
    QList<int> permille;
    for (int i = 0; i < MaxPieces - 1; ++i)
        permille.append(between(1, 999));
    const int gap = between(2, 8);
    if (split) {
        permille = permille.mid(0, pieces - 1);
        std::sort(permille.begin(), permille.end());
        d.cuts = permille;
        d.gapMs = gap;
    }

    const int junkLength = between(1, MaxJunk);
    QByteArray junk;
    for (int i = 0; i < MaxJunk; ++i) {
        char c = char(between(0x20, 0x7E));
        if (c == '#')
            c = '*';
        junk.append(c);
    }
    if (noise)
        d.junk = junk.left(junkLength);

    const int delay = between(LateMinMs, LateMaxMs);
    if (late)
        d.delayMs = delay;
    return d;
}

QList<QByteArray> FaultPlan::shape(const Decision &decision, const QByteArray &frameText)
{
    if (decision.drop)
        return {};
    QByteArray text = frameText;
    if (decision.corrupt && text.size() >= CrcDigitsFromEnd) {
        static const char digits[] = "0123456789ABCDEF";
        const int at = text.size() - CrcDigitsFromEnd + decision.corruptDigit;
        const char *found = std::find(digits, digits + 16, text.at(at));
        const int value = found < digits + 16 ? int(found - digits) : 0;
        text[at] = digits[(value + decision.corruptStep) % 16];
    }
    text.prepend(decision.junk);

    QList<QByteArray> pieces;
    int from = 0;
    for (int permille : decision.cuts) {
        if (from + 1 >= text.size())
            break;
        const int at = std::clamp(text.size() * permille / 1000, from + 1, text.size() - 1);
        pieces.append(text.mid(from, at - from));
        from = at;
    }
    pieces.append(text.mid(from));
    return pieces;
}
