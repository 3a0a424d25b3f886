#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// Slave addresses as a user writes them: "1,2,5", "1-4" or both ("0,3-5"),
// each 0 to 255, each at most once, in the order given. Returns false and says
// why in error (without the option's name) when the text is not such a list.
bool ParseAddressList(const QString &text, QList<quint8> *addresses, QString *error);

// A range "A-B" (A not above B) or a single address, for scans; false with a
// reason otherwise.
bool ParseAddressRange(const QString &text, quint8 *first, quint8 *last, QString *error);
