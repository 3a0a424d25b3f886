#pragma once

#include "filetext.h"

#include <QList>
#include <QStringList>

// The recording's columns, in order.
enum RecordingColumn {
    RecTime, RecElapsed, RecVolts, RecAmperes, RecWatts, RecMode, RecOutput, RecVoltsSet, RecAmperesSet,
    RecCharge, RecEnergy, RecStep, RecEvent, RecCelsius, RecPass, RecordingColumns
};

// The lines of a run's recording that are rows: the header block (lines
// opened by '#') and the column heads left out.
inline QList<QByteArray> RecordingRows(const QString &path)
{
    QList<QByteArray> rows;
    for (const QByteArray &line : ReadFile(path).split('\n'))
        if (!line.isEmpty() && !line.startsWith('#') && !line.startsWith("time,"))
            rows << line;
    return rows;
}

// One row's fields, a double-quoted field unquoted.
inline QByteArrayList RecordingFields(const QByteArray &row)
{
    QByteArrayList fields;
    QByteArray field;
    bool quoted = false;
    for (int i = 0; i < row.size(); ++i) {
        const char c = row.at(i);
        if (quoted && c == '"' && i + 1 < row.size() && row.at(i + 1) == '"') {
            field += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

// The event column of the rows that have one, in order.
inline QStringList RecordingEvents(const QString &path)
{
    QStringList events;
    for (const QByteArray &row : RecordingRows(path)) {
        const QByteArrayList fields = RecordingFields(row);
        if (fields.size() > RecEvent && !fields.at(RecEvent).isEmpty())
            events << QString::fromUtf8(fields.at(RecEvent));
    }
    return events;
}
