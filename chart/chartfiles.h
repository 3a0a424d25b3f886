#pragma once

class QByteArray;
class QString;
class QwtPlot;
class SampleHistory;

// Both save through a temporary file that replaces the old one only once
// everything was written and flushed. They return false when the file cannot
// be opened, written, flushed or committed; an old file is then left as it
// was and no temporary file remains.

// The samples as comma-separated lines under a header: clock time, seconds
// since the first sample, volts, amperes, 1 or 0 for CV, CC and the output,
// and the set-points in volts and amperes (both empty while unknown).
bool SaveChartCsv(const QString &path, const SampleHistory &history);

// The plot as it stands, drawn at width x height, as a PNG image.
bool SaveChartPng(const QString &path, QwtPlot *plot, int width, int height);
