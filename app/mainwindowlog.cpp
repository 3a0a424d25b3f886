// The window's log slots: the three log buttons and the log step that ends
// every tick.

#include "mainwindow.h"

#include "dialogsettingslog.h"
#include "logline.h"
#include "logpane.h"
#include "logperiod.h"
#include "mainwindowform.h"

#include <QTextEdit>

void MainWindow::StartLog()
{
    logActive = true;
    form->pushButtoLogStop->setEnabled(true);
    form->pushButtonLogStart->setEnabled(false);
    // The accumulation starts at the clock time rather than at zero, so the
    // first period is normally complete at the first tick and the first line
    // follows at once.
    periodElapsed = QTime::currentTime();
    tickTime = QTime::currentTime();
    tickClock.restart();
    logElapsed.setHMS(0, 0, 0, 0);
    logClock.start();
}

void MainWindow::StopLog()
{
    // The clocks keep running, so period boundaries go on being consumed.
    logActive = false;
    form->pushButtoLogStop->setEnabled(false);
    form->pushButtonLogStart->setEnabled(true);
}

void MainWindow::ClearLog()
{
    form->textEditLog->clear();
    logUnsaved = false;
}

void MainWindow::LogStep()
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
    if (!logActive)
        return;
    AppendLogLine();
}

void MainWindow::AppendLogLine()
{
    // Each reading is logged at most once: a boundary without a fresh reading
    // of the chosen kind writes no line, and the next try is a period later.
    LogReading reading;
    if (logSettings.LogValue == 0) {
        if (!statusFresh)
            return;
        statusFresh = false;
        reading = DisplayReading(status);
    } else {
        if (!measureFresh)
            return;
        measureFresh = false;
        reading = AdcReading(measurement);
    }

    LogClocks clocks;
    clocks.running = logElapsed;
    clocks.msSinceStart = logClock.isValid() ? logClock.elapsed() : 0;
    clocks.tickTime = tickTime;
    AppendToPane(form->textEditLog, LogText(logSettings, clocks, reading));
    logUnsaved = true;
}
