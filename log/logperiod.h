#pragma once

#include <QTime>

// Durations of the log are held as times of day counted from midnight, so
// they wrap at 24 hours, and a null time stays null until recording starts.

// The duration plus ms milliseconds.
QTime AddElapsed(const QTime &duration, qint64 ms);

// Whether the accumulated time has reached the period. At a boundary the
// accumulation restarts from zero: the excess is dropped, not carried over.
// A null accumulation never reaches a period.
bool TakePeriodBoundary(QTime &periodElapsed, const QTime &period);
