#pragma once

#include "commandcontext.h"

#include <QJsonObject>
#include <QStringList>

#include <algorithm>

// A command's results for each of the addresses given, in their order. With
// one address the result is printed exactly as the command alone prints it;
// with several, each result is a block that begins with its address (after a
// blank line from the block before), or under --json an object with an
// "address" field, one per line.
class AddressBlocks
{
public:
    explicit AddressBlocks(CommandContext &context)
        : context(context)
    {
    }

    // Runs step for each address after pointing the context at it; returns
    // the worst (highest) exit status of them.
    template <typename Step>
    int ForEach(Step step)
    {
        int worst = 0;
        for (const quint8 address : context.Options().addresses) {
            context.UseAddress(address);
            worst = std::max(worst, step(address));
        }
        return worst;
    }

    int Print(QJsonObject json, OutputRows rows);
    int PrintLines(QJsonObject json, QStringList lines);

private:
    void Separate();

    CommandContext &context;
    bool printed = false;
};
