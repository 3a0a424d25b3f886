#include "scpimessage.h"

#include <QVector>

namespace {

// Longest mnemonic a header may hold.
constexpr int MaxMnemonic = 12;

bool isWhite(char c)
{
    return c >= 0 && c <= ' ';
}

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isMnemonic(const QByteArray &word)
{
    if (word.isEmpty() || word.size() > MaxMnemonic || !isLetter(word.at(0)))
        return false;
    for (char c : word) {
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '_')
            return false;
    }
    return true;
}

QByteArray trimmed(const QByteArray &text)
{
    int begin = 0;
    int end = text.size();
    while (begin < end && isWhite(text.at(begin)))
        ++begin;
    while (end > begin && isWhite(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// Splits at separator outside quoted strings; false on an unterminated quote.
bool splitOutsideQuotes(const QByteArray &text, char separator, QList<QByteArray> &parts)
{
    char quote = 0;
    int start = 0;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (quote) {
            if (c == quote)
                quote = 0;  // a doubled quote closes and reopens: same result
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    parts.append(text.mid(start));
    return quote == 0;
}

// Reads the header and parameters of one command; false when malformed.
bool parseCommand(const QByteArray &text, const QList<QByteArray> &path, ScpiCommand &command)
{
    int headerEnd = 0;
    while (headerEnd < text.size() && !isWhite(text.at(headerEnd)))
        ++headerEnd;
    QByteArray header = text.left(headerEnd).toUpper();
    const QByteArray rest = trimmed(text.mid(headerEnd));

    if (header.endsWith('?')) {
        command.query = true;
        header.chop(1);
    }
    if (header.startsWith('*')) {
        command.common = true;
        if (!isMnemonic(header.mid(1)))
            return false;
        command.nodes = {header};
    } else {
        const bool fromRoot = header.startsWith(':');
        if (fromRoot)
            header.remove(0, 1);
        const QList<QByteArray> written = header.split(':');
        for (const QByteArray &node : written) {
            if (!isMnemonic(node))
                return false;
        }
        command.nodes = fromRoot ? written : path + written;
    }

    if (rest.isEmpty())
        return true;
    QList<QByteArray> parameters;
    if (!splitOutsideQuotes(rest, ',', parameters))
        return false;
    for (const QByteArray &parameter : parameters) {
        const QByteArray value = trimmed(parameter);
        // A '?' belongs to a header; outside a string it marks a query whose
        // header went wrong ("VOLT 5?").
        const bool quoted = value.startsWith('"') || value.startsWith('\'');
        if (value.isEmpty() || (!quoted && value.contains('?')))
            return false;
        command.parameters.append(value);
    }
    return true;
}

}  // namespace

QList<ScpiCommand> ParseScpiMessage(const QByteArray &message)
{
    QList<ScpiCommand> commands;
    QList<QByteArray> units;
    if (!splitOutsideQuotes(message, ';', units)) {
        // Carry out nothing of a message whose quotes do not close: where its
        // commands end cannot be known.
        ScpiCommand broken;
        broken.syntaxError = true;
        return {broken};
    }
    QList<QByteArray> path;
    for (const QByteArray &unit : units) {
        const QByteArray text = trimmed(unit);
        if (text.isEmpty())
            continue;
        ScpiCommand command;
        if (!parseCommand(text, path, command)) {
            command = ScpiCommand();
            command.syntaxError = true;
            commands.append(command);
            break;
        }
        if (!command.common)
            path = command.nodes.mid(0, command.nodes.size() - 1);
        commands.append(command);
    }
    return commands;
}

ScpiHeader::ScpiHeader(const char *text)
{
    QByteArray rest(text);
    while (!rest.isEmpty()) {
        Node node;
        node.optional = rest.startsWith('[');
        if (node.optional)
            rest.remove(0, 1);
        if (rest.startsWith(':'))
            rest.remove(0, 1);
        int end = 0;
        while (end < rest.size() && !QByteArray("[]:").contains(rest.at(end)))
            ++end;
        QByteArray word = rest.left(end);
        node.suffix = word.endsWith('#');
        if (node.suffix)
            word.chop(1);
        for (char c : word) {
            if (!(c >= 'a' && c <= 'z'))
                node.shortForm.append(c);
        }
        node.longForm = word.toUpper();
        rest.remove(0, end);
        if (rest.startsWith(']'))
            rest.remove(0, 1);
        pattern.append(node);
    }
}

bool ScpiHeader::Node::Takes(const QByteArray &node) const
{
    if (node == shortForm || node == longForm)
        return true;
    if (!suffix || !node.endsWith('1'))
        return false;
    const QByteArray bare = node.left(node.size() - 1);
    return bare == shortForm || bare == longForm;
}

bool ScpiHeader::Matches(const QList<QByteArray> &nodes) const
{
    // reach[j]: the pattern so far can take exactly the first j nodes. One
    // pass per pattern node keeps the work linear in both lengths however
    // many nodes are optional.
    QVector<bool> reach(nodes.size() + 1, false);
    reach[0] = true;
    for (const Node &wanted : pattern) {
        QVector<bool> next(nodes.size() + 1, false);
        for (int j = 0; j <= nodes.size(); ++j) {
            if (!reach.at(j))
                continue;
            if (wanted.optional)
                next[j] = true;
            if (j < nodes.size() && wanted.Takes(nodes.at(j)))
                next[j + 1] = true;
        }
        reach.swap(next);
    }
    return reach.at(nodes.size());
}
