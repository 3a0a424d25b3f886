#include "pollcycle.h"

#include "commandset.h"
#include "connection.h"
#include "devicelink.h"
#include "lineruntransport.h"
#include "lineschedule.h"
#include "lineview.h"
#include "panelsetpoints.h"
#include "parameterpages.h"
#include "runpage.h"
#include "supplyreadings.h"
#include "writeattempts.h"

#include <QPointer>
#include <QTimer>

PollCycle::PollCycle(Connection &connection, Parts parts, QObject *parent)
    : QObject(parent), connection(connection), parts(parts)
{
    timer = new QTimer(this);
    timer->setInterval(TickMs);
    timer->setSingleShot(false);
    connect(timer, &QTimer::timeout, this, &PollCycle::TimeOut);
}

void PollCycle::TimeOut()
{
    // Each tick is the window's turn on the line's one queue: taken at once
    // when the line is free (after what other programs have due before it),
    // else after the exchange under way, never inside it. A tick that comes
    // while one waits its turn, or runs, adds nothing: one tick at most waits.
    if (tickWaiting)
        return;
    tickWaiting = true;
    DeviceLink &link = connection.Link();
    LineSchedule &queue = link.Schedule();
    QPointer<PollCycle> self(this);
    const quint64 tick = queue.SubmitJob(LineSchedule::OwnUser, [self] {
        if (self)
            self->WaitingTick();
    });
    if (!queue.RunUntilDone(tick) || !queue.IsIdle())
        link.RunScheduleSoon();
}

void PollCycle::WaitingTick()
{
    // A tick that comes while this one runs (its exchanges wait in the event
    // loop) is dropped, as a timer's own ticks are while its slot runs: the
    // next operation waits for the next tick.
    struct TickEnd {
        bool &waiting;
        ~TickEnd() { waiting = false; }
    } tickEnd{tickWaiting};
    if (chosenAddress != connection.Address()) {
        connection.SetAddress(chosenAddress);
        SupplyChanged();
    }
    // A click while this tick's operation waits is a new request; finishing
    // the old one must not drop it.
    const quint32 request = requestSerial;
    if (RunTick()) {
        emit ticked();
        return;
    }
    auto completed = [this, request] {
        if (requestSerial == request)
            pollState = PollState::Monitor;
    };

    switch (pollState) {
    case PollState::Monitor:
        // The line's view reads every other monitor tick while it wants to:
        // the panel keeps half of them.
        if (parts.lineView->WantsRead() && (lineViewTurn = !lineViewTurn)) {
            parts.lineView->Step(connection.Link());
        } else if (!parts.setpoints->Known()
            && (!setpointRetryClock.isValid() || setpointRetryClock.elapsed() >= SetpointRetryMs)) {
            setpointRetryClock.start();
            parts.setpoints->Load();
        } else if (parts.runPage->isActive()) {
            // The run reads the status itself, on its own schedule.
            parts.readings->SetMeasureFresh(parts.readings->ReadMeasurements());
        } else {
            // A read cut short by a disconnect (or a lost port) is not had:
            // the next connect begins with it.
            const quint32 serial = connection.Serial();
            if (!readToggle) {
                const bool good = parts.readings->ReadStatus() == LinkResult::GoodReply;
                if (serial == connection.Serial()) {
                    readToggle = true;
                    parts.readings->SetStatusFresh(good);
                }
            } else if (connection.LineShared() && (setpointTurn = !setpointTurn)) {
                // Another program may have changed the set-points: every other
                // measurement tick reads them instead, and the boxes follow
                // (through the supply's state) unless the operator edits them.
                SetpointRecord setpoints;
                connection.Link().GetSetpoints(connection.Address(), setpoints);
                if (serial == connection.Serial())
                    readToggle = false;
            } else {
                const bool good = parts.readings->ReadMeasurements();
                if (serial == connection.Serial()) {
                    readToggle = false;
                    parts.readings->SetMeasureFresh(good);
                }
            }
        }
        break;
    case PollState::ApplySetpoints:
    case PollState::SwitchOutput: {
        const LinkResult result =
            pollState == PollState::ApplySetpoints ? parts.setpoints->Send() : SendOutputSwitch();
        if (result == LinkResult::GoodReply) {
            completed();
        } else if (retryCount >= WriteTries - 1) {
            emit writeFailed(result);
            completed();
        } else if (requestSerial == request) {
            ++retryCount;
        }
        break;
    }
    case PollState::CalibrationRead:
        parts.pages->LoadCalibration();
        completed();
        break;
    case PollState::CalibrationWrite:
        parts.pages->StoreCalibration();
        completed();
        break;
    case PollState::UserParamsRead:
        parts.pages->LoadUserParams();
        completed();
        break;
    case PollState::UserParamsWrite:
        parts.pages->StoreUserParams();
        completed();
        break;
    }
    emit ticked();
}

// The poll cycle's share for an unattended run: the run's driver takes the
// tick for a status reading or a write when it has one due; otherwise the
// tick reads the measurements as usual.
bool PollCycle::RunTick()
{
    if (pollState != PollState::Monitor)
        return false;
    parts.runTransport->SetAddress(connection.Address());
    return parts.runPage->tick();
}

bool PollCycle::BeginConnection()
{
    const quint32 serial = connection.Serial();
    // A disconnect while a set-point read waits ends this connect: no timer is
    // left running on a closed port.
    parts.setpoints->Load();
    if (serial != connection.Serial())
        return false;
    parts.setpoints->Load();
    if (serial != connection.Serial())
        return false;

    // Both reads failing leaves the boxes without the supply's values; the
    // poll retries a second from now.
    setpointRetryClock.start();
    RequestOperation(PollState::UserParamsRead);
    return true;
}

void PollCycle::ResumeAfterReopen()
{
    setpointRetryClock.invalidate();  // the set-points are read at the next monitor tick
    pollState = PollState::Monitor;
}

void PollCycle::Start()
{
    timer->start();
}

void PollCycle::Stop()
{
    timer->stop();
}

void PollCycle::ChooseAddress(int address)
{
    chosenAddress = quint8(address);
}

void PollCycle::SupplyChanged()
{
    // Another supply answers from now on: the boxes, the pages and the last
    // status are the previous one's, and so is a write still waiting.
    if (pollState == PollState::ApplySetpoints || pollState == PollState::CalibrationWrite
        || pollState == PollState::UserParamsWrite)
        RequestOperation(PollState::Monitor);
    connection.ForgetSupply();
    setpointRetryClock.invalidate();  // read them at the next monitor tick
    emit addressChanged();
}

void PollCycle::RequestOperation(PollState state)
{
    pollState = state;
    ++requestSerial;
}

void PollCycle::ApplySetpoints()
{
    RequestOperation(PollState::ApplySetpoints);
    retryCount = 0;
}

void PollCycle::SwitchOutput(bool offOnly)
{
    RequestOperation(PollState::SwitchOutput);
    retryCount = 0;
    switchOffOnly = offOnly;
}

void PollCycle::ReadCalibration()
{
    RequestOperation(PollState::CalibrationRead);
}

void PollCycle::WriteCalibration()
{
    RequestOperation(PollState::CalibrationWrite);
}

void PollCycle::ReadUserParams()
{
    RequestOperation(PollState::UserParamsRead);
}

void PollCycle::WriteUserParams()
{
    RequestOperation(PollState::UserParamsWrite);
}

LinkResult PollCycle::SendOutputSwitch()
{
    // The switch goes the other way from the output's state: right after
    // connecting no status has told it yet, so it is read first. Off needs
    // no reading.
    if (!switchOffOnly && !parts.readings->StatusReadThisConnection()) {
        const LinkResult result = parts.readings->ReadStatus();
        if (result != LinkResult::GoodReply)
            return result;
    }
    const int value = switchOffOnly || parts.readings->Status().OutputOn ? CommandSet::OutputOffValue
                                                                         : CommandSet::OutputOnValue;
    const LinkResult result = connection.Link().SetOutput(connection.Address(), value);
    if (result == LinkResult::GoodReply)
        emit outputSwitched(value == CommandSet::OutputOnValue);
    return result;
}
