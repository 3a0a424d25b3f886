#pragma once

#include <QByteArray>
#include <QList>

// One command of a message, its header resolved against the path that the
// commands before it left.
struct ScpiCommand {
    // Header mnemonics from the root, upper case, as written ("SOUR", "VOLT");
    // a common command is one node with its star ("*IDN").
    QList<QByteArray> nodes;
    bool query = false;
    bool common = false;
    // Parameters with the white space around them removed.
    QList<QByteArray> parameters;
    // A malformed command: it and the rest of its message are not carried out.
    bool syntaxError = false;
};

// Splits one message (without its line end) into its commands. A header
// after ';' continues from the path of the command before it (all its nodes
// but the last); a leading ':' starts from the root; common commands leave the
// path as it is. Parsing stops at the first malformed command, which is the
// last one returned with syntaxError set. Empty commands are skipped.
QList<ScpiCommand> ParseScpiMessage(const QByteArray &message);

// A header pattern in the usual notation, such as
// "[SOURce]:VOLTage[:LEVel][:IMMediate][:AMPLitude]": each node matches its
// short form (the capitals) or its long form, in any case; bracketed nodes may
// be left out. A node written with a trailing '#' ("OUTPut#") also takes the
// numeric suffix 1 ("OUTP1"): this instrument has one channel.
class ScpiHeader
{
public:
    explicit ScpiHeader(const char *pattern);
    bool Matches(const QList<QByteArray> &nodes) const;

private:
    struct Node {
        QByteArray shortForm;
        QByteArray longForm;
        bool optional = false;
        bool suffix = false;
        bool Takes(const QByteArray &node) const;
    };
    QList<Node> pattern;
};
