#pragma once

#include "logsettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTime>

class DialogSettingsLog;
class QTextEdit;
class SupplyReadings;

// The log page's recording: a clock stepped at the end of every poll tick
// that writes a line of the latest fresh reading at each period boundary
// while recording is on.
class LogClock : public QObject
{
    Q_OBJECT

public:
    LogClock(DialogSettingsLog *settingsDialog, QTextEdit *pane, SupplyReadings *readings,
             QObject *parent = nullptr);

    // Lines recorded since the log was last saved or cleared.
    bool Unsaved() const { return unsaved; }
    void NoteSaved() { unsaved = false; }

public slots:
    void Start();
    void Stop();
    void Clear();
    void Step();

signals:
    void activeChanged(bool active);

private:
    void AppendLine();

    DialogSettingsLog *settingsDialog;
    QTextEdit *pane;
    SupplyReadings *readings;
    bool active = false;
    bool unsaved = false;
    // Durations are held as times of day counted from midnight, so they wrap
    // at 24 hours like the stamps that show them.
    QTime periodElapsed;
    QTime logElapsed;
    QTime tickTime;  // clock time at which the latest tick began
    LogSettings logSettings;
    QElapsedTimer tickClock;  // time since the latest tick began
    QElapsedTimer logClock;   // monotonic time since recording started
};
