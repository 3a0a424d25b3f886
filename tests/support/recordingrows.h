#pragma once

#include "filetext.h"

#include <QList>
#include <QStringList>

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

// The event column (the last) of the rows that have one, in order.
inline QStringList RecordingEvents(const QString &path)
{
    QStringList events;
    for (const QByteArray &row : RecordingRows(path)) {
        const QString event = QString::fromUtf8(row.split(',').last());
        if (!event.isEmpty())
            events << event;
    }
    return events;
}
