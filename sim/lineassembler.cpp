#include "lineassembler.h"

namespace {
constexpr char StartChar = '#';
constexpr char Terminator = '\r';
}  // namespace

LineAssembler::LineAssembler(int maxChars)
    : maxChars(maxChars)
{
}

QList<QByteArray> LineAssembler::feed(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    for (char c : bytes) {
        if (c == StartChar) {
            partial = QByteArray(1, c);
            gathering = true;
            continue;
        }
        if (!gathering)
            continue;
        partial.append(c);
        if (c == Terminator) {
            lines.append(partial);
            reset();
        } else if (partial.size() >= maxChars) {
            reset();
        }
    }
    return lines;
}

void LineAssembler::reset()
{
    partial.clear();
    gathering = false;
}
