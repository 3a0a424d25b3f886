#include "mainwindow.h"

#include "commandset.h"
#include "devicelink.h"
#include "livechart.h"
#include "runpage.h"
#include "supplyport.h"
#include "writeattempts.h"

#include <QComboBox>
#include <QSpinBox>
#include <QTimer>

// The poll cycle's share for an unattended run: the run's writes take the
// tick of a status or measurement read, one write per tick with the usual
// tries, so the wire keeps the cadence it has without a run.
bool MainWindow::RunTick()
{
    runPage->advance();
    if (pollState != PollState::Monitor)
        return false;
    const std::optional<SupplyRequest> request = runPage->pendingRequest();
    if (!request)
        return false;
    LinkResult result;
    if (request->kind == SupplyRequest::Kind::Setpoints) {
        result = link->SetSetpoints(slaveAddress, request->setpoints.VoltageSet,
                                    request->setpoints.CurrentSet);
        // The boxes keep showing what the supply holds, as the run changes it.
        if (result == LinkResult::GoodReply)
            ShowSetpoints(request->setpoints);
    } else {
        const int value = request->outputOn ? CommandSet::OutputOnValue : CommandSet::OutputOffValue;
        result = link->SetOutput(slaveAddress, value);
        if (result == LinkResult::GoodReply)
            chart->AddSwitch(request->outputOn);
    }
    if (result == LinkResult::GoodReply) {
        runRetryCount = 0;
        runPage->requestDone(*request);
    } else if (++runRetryCount >= WriteTries) {
        runRetryCount = 0;
        runPage->requestFailed();
    }
    return true;
}

void MainWindow::StartRun()
{
    runRetryCount = 0;
    runPage->start({portBox->currentText(), slaveBox->value()});
}

// A port lost during a run is reopened by its name, quietly: the run's
// recording notes the gap and the reconnection.
void MainWindow::ReopenForRun()
{
    if (port->isOpen() || !runPage->isActive())
        return;
    // By the name the operator chose: an adapter plugged back may be another
    // device behind the same name.
    QString reason;
    if (!OpenSupplyPort(*port, portBox->currentText(), &reason))
        return;
    BeginConnection();
    setpointRetryClock.invalidate();  // the set-points are read at the next monitor tick
    pollState = PollState::Monitor;
    ResumePolling();
}
