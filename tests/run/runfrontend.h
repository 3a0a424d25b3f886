#pragma once

#include "recordingrows.h"
#include "runengine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QVector>

// A front end for the engine with a hand-set clock: it carries out every
// request at once, as a supply that always answers would, and keeps a list
// of the writes with their times.
struct FrontEnd {
    struct Write {
        qint64 atMs;
        SupplyRequest request;
    };

    QTemporaryDir dir;
    RunEngine engine;
    qint64 now = 0;
    QVector<Write> writes;

    QString recordPath() const { return dir.filePath(QStringLiteral("run.csv")); }

    RunSetup setup(const QByteArray &program) const
    {
        RunSetup s;
        if (!program.isEmpty())
            s.program = ParseRunProgram(program);
        s.recordPath = recordPath();
        s.header.software = QStringLiteral("test 1.0");
        s.header.port = QStringLiteral("/dev/null");
        return s;
    }

    bool start(const RunSetup &s, std::optional<SetpointRecord> known = std::nullopt)
    {
        const bool ok = engine.start(s, now, QDateTime(QDate(2026, 12, 7), QTime(4, 0), Qt::UTC), known);
        serve();
        return ok;
    }

    void serve()
    {
        while (const std::optional<SupplyRequest> r = engine.pendingRequest()) {
            writes << Write{now, *r};
            engine.requestDone(*r, now);
        }
    }

    void timeTo(qint64 ms)
    {
        now = ms;
        engine.advance(now);
        serve();
    }

    void reading(qint64 ms, double volts, double amperes, bool fine = false)
    {
        StatusRecord s;
        s.Voltage = qRound(volts * 100);
        s.CurrentFine = fine ? 1 : 0;
        s.Current = qRound(amperes * (fine ? 10000 : 1000));
        s.CvFlag = 1;
        s.OutputOn = 1;
        now = ms;
        engine.feedStatus(s, now);
        serve();
    }

    // The set-point writes as (time, mV, mA).
    QVector<std::array<qint64, 3>> setpointWrites() const
    {
        QVector<std::array<qint64, 3>> out;
        for (const Write &w : writes)
            if (w.request.kind == SupplyRequest::Kind::Setpoints)
                out.push_back({w.atMs, w.request.setpoints.VoltageSet, w.request.setpoints.CurrentSet});
        return out;
    }

    QList<QByteArray> rows() const { return RecordingRows(recordPath()); }

    // The event column of each event row, in order.
    QStringList events() const { return RecordingEvents(recordPath()); }
};
