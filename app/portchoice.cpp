#include "portchoice.h"

#include <QComboBox>
#include <QSettings>
#include <QSpinBox>

void LoadPortChoice(QSettings *settings, QComboBox *portBox, QSpinBox *addressBox)
{
    // A remembered port that is not listed now is still offered: connecting
    // tries it, and says why when it is not there.
    const QString name = settings->value(QStringLiteral("PortName")).toString();
    if (!name.isEmpty()) {
        const int index = portBox->findText(name);
        if (index >= 0)
            portBox->setCurrentIndex(index);
        else
            portBox->setEditText(name);
    }
    bool ok = false;
    const int address = settings->value(QStringLiteral("SlaveAddress")).toInt(&ok);
    if (ok && address >= addressBox->minimum() && address <= addressBox->maximum())
        addressBox->setValue(address);
}

void StorePortChoice(QSettings *settings, const QComboBox *portBox, const QSpinBox *addressBox)
{
    settings->setValue(QStringLiteral("PortName"), portBox->currentText());
    settings->setValue(QStringLiteral("SlaveAddress"), addressBox->value());
}
