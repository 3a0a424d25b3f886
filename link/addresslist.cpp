#include "addresslist.h"

#include <QStringList>

namespace {

bool ParseAddress(const QString &text, uint *address)
{
    // Digits only: toUInt would take "+3" or " 3" too.
    if (text.isEmpty() || text.size() > 3)
        return false;
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    }
    *address = text.toUInt();
    return *address <= 255;
}

}  // namespace

bool ParseAddressRange(const QString &text, quint8 *first, quint8 *last, QString *error)
{
    const QStringList ends = text.split('-');
    uint low = 0;
    uint high = 0;
    if (ends.size() > 2 || !ParseAddress(ends.first(), &low)
        || !ParseAddress(ends.last(), &high)) {
        *error = QStringLiteral("\"%1\" is not an address (0 to 255) or a range A-B").arg(text);
        return false;
    }
    if (low > high) {
        *error = QStringLiteral("the range \"%1\" runs backwards").arg(text);
        return false;
    }
    *first = quint8(low);
    *last = quint8(high);
    return true;
}

bool ParseAddressList(const QString &text, QList<quint8> *addresses, QString *error)
{
    QList<quint8> list;
    bool seen[256] = {};
    for (const QString &item : text.split(',')) {
        quint8 first = 0;
        quint8 last = 0;
        if (!ParseAddressRange(item, &first, &last, error))
            return false;
        for (int address = first; address <= last; ++address) {
            if (seen[address]) {
                *error = QStringLiteral("address %1 is given twice").arg(address);
                return false;
            }
            seen[address] = true;
            list.append(quint8(address));
        }
    }
    *addresses = list;
    return true;
}
