#pragma once

#include "linkresult.h"
#include "records.h"

#include <QElapsedTimer>
#include <QObject>

class Connection;
class MainWindowForm;
class QLabel;

// The supply's status and measurements as the panel shows them: read over
// the connection, shown on the displays, lamps and pages, dimmed once they
// are old, and the supply's silence counted in the status bar.
class SupplyReadings : public QObject
{
    Q_OBJECT

public:
    SupplyReadings(Connection &connection, MainWindowForm *form, QLabel *silenceLabel,
                   QObject *parent = nullptr);

    static QString FormatDigits(qint32 value, qint32 pointIndex);

    LinkResult ReadStatus();
    // Shows a status read by the poll or by the run: the record or the failure.
    LinkResult ShowStatusReading(LinkResult result);
    // A status the run read.
    void ShowRunStatus(LinkResult result, const StatusRecord &reading);
    bool ReadMeasurements();

    const StatusRecord &Status() const { return status; }
    bool StatusReadThisConnection() const { return statusReadThisConnection; }

    // Each reading is logged at most once: the poll marks one fresh, the log
    // takes it.
    void SetStatusFresh(bool fresh) { statusFresh = fresh; }
    void SetMeasureFresh(bool fresh) { measureFresh = fresh; }
    bool TakeFreshStatus(StatusRecord *reading);
    bool TakeFreshMeasurement(MeasurementRecord *reading);

    // A connect: nothing is silent yet.
    void BeginConnection();
    // Says in the status bar how long the supply has been silent, or clears
    // that once it answers.
    void ShowSilence(bool answered);

public slots:
    // What a connect and a change of address both make stale.
    void ForgetSupply();

signals:
    void statusShown(const StatusRecord &status);
    void statusFailed();
    void measured(const MeasurementRecord &measurement);

private:
    void ShowReadingsStale();
    void ShowMeasurementsStale(bool stale);

    Connection &connection;
    MainWindowForm *form;
    // "No answer for N s" while the supply is silent, empty otherwise.
    QLabel *silenceLabel;
    StatusRecord status;
    MeasurementRecord measurement;
    bool statusFresh = false;
    bool measureFresh = false;
    // Reads that failed in a row, and whether any status was read in the
    // current connection.
    int statusFailures = 0;
    int measureFailures = 0;
    bool statusReadThisConnection = false;
    static constexpr int StaleAfterFailures = 2;
    QElapsedTimer lastAnswer;  // since the supply last answered a monitor read
};
