#pragma once

#include "runcondition.h"

#include <QString>
#include <QVector>

#include <optional>

// A program: steps read from a CSV file, one step per row.

struct RunStep {
    double volts = 0;
    double amperes = 0;
    qint64 durationMs = 0;
    qint64 rampMs = 0;  // 0: jump to the step's set-points at its start
    bool outputOn = true;
    std::optional<RunCondition> until;
};

struct RunProgram {
    QVector<RunStep> steps;
    int errorLine = 0;  // 1-based line of the file; 0 with no error
    RunFault fault;     // none when the program is good

    bool ok() const { return fault.isNone(); }
    // The fault in English; empty when the program is good.
    QString error() const;
    // "line 4: ..." or the error alone when it concerns no line.
    QString errorText() const;
};

// "90", "1.5", "mm:ss" or "hh:mm:ss" in milliseconds, or nothing.
std::optional<qint64> ParseRunDuration(const QString &text);

RunProgram ParseRunProgram(const QByteArray &utf8);
RunProgram LoadRunProgram(const QString &path);
