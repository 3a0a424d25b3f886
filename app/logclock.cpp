#include "logclock.h"

#include "dialogsettingslog.h"
#include "logline.h"
#include "logpane.h"
#include "logperiod.h"
#include "supplyreadings.h"

#include <QTextEdit>

LogClock::LogClock(DialogSettingsLog *settingsDialog, QTextEdit *pane, SupplyReadings *readings,
                   QObject *parent)
    : QObject(parent), settingsDialog(settingsDialog), pane(pane), readings(readings)
{
    tickTime = QTime::currentTime();
    tickClock.start();
}

void LogClock::Start()
{
    active = true;
    emit activeChanged(true);
    // The accumulation starts at the clock time rather than at zero, so the
    // first period is normally complete at the first tick and the first line
    // follows at once.
    periodElapsed = QTime::currentTime();
    tickTime = QTime::currentTime();
    tickClock.restart();
    logElapsed.setHMS(0, 0, 0, 0);
    logClock.start();
}

void LogClock::Stop()
{
    // The clocks keep running, so period boundaries go on being consumed.
    active = false;
    emit activeChanged(false);
}

void LogClock::Clear()
{
    pane->clear();
    unsaved = false;
}

void LogClock::Step()
{
    // The options act at once, whether or not the dialog is ever closed.
    settingsDialog->GetSettings(logSettings);

    periodElapsed = AddElapsed(periodElapsed, tickClock.elapsed());
    logElapsed = AddElapsed(logElapsed, tickClock.elapsed());
    tickTime = QTime::currentTime();
    tickClock.restart();

    // A boundary is consumed even while stopped; it then writes nothing.
    if (!TakePeriodBoundary(periodElapsed, logSettings.LogPeriod))
        return;
    if (!active)
        return;
    AppendLine();
}

void LogClock::AppendLine()
{
    // Each reading is logged at most once: a boundary without a fresh reading
    // of the chosen kind writes no line, and the next try is a period later.
    LogReading reading;
    if (logSettings.LogValue == 0) {
        StatusRecord status;
        if (!readings->TakeFreshStatus(&status))
            return;
        reading = DisplayReading(status);
    } else {
        MeasurementRecord measurement;
        if (!readings->TakeFreshMeasurement(&measurement))
            return;
        reading = AdcReading(measurement);
    }

    LogClocks clocks;
    clocks.running = logElapsed;
    clocks.msSinceStart = logClock.isValid() ? logClock.elapsed() : 0;
    clocks.tickTime = tickTime;
    AppendToPane(pane, LogText(logSettings, clocks, reading));
    unsaved = true;
}
