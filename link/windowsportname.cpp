#include "windowsportname.h"

#include <QRegularExpression>

QString WindowsPortName(const QString &name)
{
    // The device namespace prefix in either slash, and a trailing colon as
    // in "COM3:" from old tools.
    static const QRegularExpression comPort(QStringLiteral("^(?:[\\\\/]{2}\\.[\\\\/])?com([1-9][0-9]{0,2}):?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comPort.match(name.trimmed());
    return match.hasMatch() ? QStringLiteral("COM") + match.captured(1) : name;
}
