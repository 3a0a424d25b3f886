#include "runsummary.h"

#include <algorithm>
#include <cmath>

namespace {

QString ClockText(qint64 ms)
{
    ms = std::max<qint64>(ms, 0);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString OutputStateKey(RunOutputState state)
{
    switch (state) {
    case RunOutputState::OffConfirmed: return QStringLiteral("off_confirmed");
    case RunOutputState::KeptOn: return QStringLiteral("kept_on");
    case RunOutputState::Unknown: break;
    }
    return QStringLiteral("unknown");
}

// As many decimals as the text shows.
double Micro(double value)
{
    return std::round(value * 1e6) / 1e6;
}

}  // namespace

QString RunOutputStateText(RunOutputState state)
{
    switch (state) {
    case RunOutputState::OffConfirmed: return QStringLiteral("off (confirmed)");
    case RunOutputState::KeptOn: return QStringLiteral("kept on");
    case RunOutputState::Unknown: break;
    }
    return QStringLiteral("unknown");
}

QString RunSummary::text() const
{
    QString line = QStringLiteral("%1 after %2: ").arg(reason, ClockText(durationMs));
    if (stepCount > 0) {
        line += QStringLiteral("%1 %2 done, pass %3 of %4, ")
                    .arg(stepsDone)
                    .arg(stepsDone == 1 ? QStringLiteral("step") : QStringLiteral("steps"))
                    .arg(pass)
                    .arg(passes > 0 ? QString::number(passes) : QStringLiteral("unlimited"));
    } else {
        line += QStringLiteral("recording only, ");
    }
    line += QStringLiteral("%1 Ah, %2 Wh, output %3")
                .arg(ampereHours, 0, 'f', 6)
                .arg(wattHours, 0, 'f', 6)
                .arg(RunOutputStateText(output));
    return line;
}

QJsonObject RunSummary::json() const
{
    return QJsonObject{
        {QStringLiteral("reason"), reason},
        {QStringLiteral("duration_s"), durationMs / 1000.0},
        {QStringLiteral("steps_done"), stepsDone},
        {QStringLiteral("steps"), stepCount},
        {QStringLiteral("pass"), pass},
        {QStringLiteral("passes"), passes},
        {QStringLiteral("charge_Ah"), Micro(ampereHours)},
        {QStringLiteral("energy_Wh"), Micro(wattHours)},
        {QStringLiteral("output"), OutputStateKey(output)},
    };
}
