#include "portfailurewords.h"

#include "supplyport.h"

QString PortFailureWords::Of(const PortFailure &failure)
{
    switch (failure.kind) {
    case PortFailure::Kind::None:
        break;
    case PortFailure::Kind::NoName:
        return tr("порт не выбран");
    case PortFailure::Kind::Busy:
        if (failure.pid > 0)
            return tr("порт занят: его держит %1 (pid %2)")
                .arg(failure.holder.isEmpty() ? tr("другая программа") : failure.holder)
                .arg(failure.pid);
        return tr("порт занят другой программой");
    case PortFailure::Kind::System:
        switch (failure.error) {
        case QSerialPort::DeviceNotFoundError:
            return tr("нет такого порта");
        case QSerialPort::PermissionError:
            return tr("нет прав на порт");
        case QSerialPort::OpenError:
            return tr("порт уже открыт");
        case QSerialPort::UnsupportedOperationError:
            return tr("порт не принимает настройки линии");
        default:
            // Rare: the system's own words are all there is.
            return tr("ошибка порта: %1").arg(failure.systemText);
        }
    }
    return {};
}
