#include "addressblocks.h"

void AddressBlocks::Separate()
{
    if (printed && !context.Options().json)
        WriteOut(QStringLiteral("\n"));
    printed = true;
}

int AddressBlocks::Print(QJsonObject json, OutputRows rows)
{
    if (context.SeveralAddresses()) {
        const int address = context.Options().address;
        json.insert(QStringLiteral("address"), address);
        rows.prepend({QStringLiteral("address"), QString::number(address)});
        Separate();
    }
    return context.PrintResult(json, rows);
}

int AddressBlocks::PrintLines(QJsonObject json, QStringList lines)
{
    if (context.SeveralAddresses()) {
        const int address = context.Options().address;
        json.insert(QStringLiteral("address"), address);
        lines.prepend(QStringLiteral("address %1").arg(address));
        Separate();
    }
    return context.PrintLines(json, lines);
}
