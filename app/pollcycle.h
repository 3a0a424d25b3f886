#pragma once

#include "linkresult.h"

#include <QElapsedTimer>
#include <QObject>

class Connection;
class LineRunTransport;
class LineView;
class PanelSetpoints;
class ParameterPages;
class QTimer;
class RunPage;
class SupplyReadings;

// Operation of the next poll tick.
enum class PollState : qint32 {
    Monitor = 0,
    ApplySetpoints = 1,
    SwitchOutput = 2,
    CalibrationRead = 3,
    CalibrationWrite = 4,
    UserParamsRead = 5,
    UserParamsWrite = 6,
};

// The window's one way onto the line: every 250 ms a tick makes one
// operation, the operator's latest request or else a monitor read (status
// and measurements in turn), and shares its ticks with the run and the line
// view.
class PollCycle : public QObject
{
    Q_OBJECT

public:
    // What the ticks read and write.
    struct Parts {
        SupplyReadings *readings;
        PanelSetpoints *setpoints;
        ParameterPages *pages;
        LineView *lineView;
        RunPage *runPage;
        LineRunTransport *runTransport;
    };
    PollCycle(Connection &connection, Parts parts, QObject *parent = nullptr);

    static constexpr int TickMs = 250;

    // A new connection: the set-points are read twice and the user
    // parameters requested before the ticks start. False when a disconnect
    // came meanwhile: nothing is started then.
    bool BeginConnection();
    // A port reopened during a run: the set-points are read at the next
    // monitor tick.
    void ResumeAfterReopen();
    void Start();
    void Stop();

    // The operator's requests, each made at the next tick; a write is tried
    // on consecutive ticks until acknowledged, at most WriteTries times.
    void ApplySetpoints();
    // The output switched the other way from its last status, or only off.
    void SwitchOutput(bool offOnly);

public slots:
    // The address box's value, taken at the next tick.
    void ChooseAddress(int address);
    void ReadCalibration();
    void WriteCalibration();
    void ReadUserParams();
    void WriteUserParams();

signals:
    // Another supply is asked from this tick on.
    void addressChanged();
    void writeFailed(LinkResult result);
    void outputSwitched(bool on);
    // The end of every tick.
    void ticked();

private slots:
    void TimeOut();
    void WaitingTick();

private:
    void RequestOperation(PollState state);
    void SupplyChanged();
    // The unattended run's share of the poll cycle; true when it took this tick.
    bool RunTick();
    LinkResult SendOutputSwitch();

    Connection &connection;
    Parts parts;
    QTimer *timer = nullptr;
    PollState pollState = PollState::Monitor;
    // The address box's value; the connection takes it at the next tick.
    quint8 chosenAddress = 0;
    bool readToggle = false;
    qint32 retryCount = 0;
    // The pending output write switches off whatever the last status said.
    bool switchOffOnly = false;
    // Counts request clicks, so that a tick's operation that finishes after a
    // new click does not drop it by returning to Monitor.
    quint32 requestSerial = 0;
    // The line view's reads take every other monitor tick while it wants them.
    bool lineViewTurn = false;
    // On a shared line every other measurement tick reads the set-points.
    bool setpointTurn = false;
    // Until the set-points are known a monitor tick reads them instead, at
    // most once a second.
    QElapsedTimer setpointRetryClock;
    static constexpr qint64 SetpointRetryMs = 1000;
    // A tick waits its turn on the line's queue, or runs: one at most.
    bool tickWaiting = false;
};
