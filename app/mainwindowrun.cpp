#include "mainwindow.h"

#include "commandset.h"
#include "devicelink.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "runpage.h"
#include "supplyport.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>

namespace {

RunTransport::Result ResultOf(LinkResult result)
{
    switch (result) {
    case LinkResult::GoodReply:
        return RunTransport::Result::Done;
    case LinkResult::NoReply:
        return RunTransport::Result::NoAnswer;
    case LinkResult::BadReply:
        break;
    }
    return RunTransport::Result::Refused;
}

}  // namespace

// The poll cycle's share for an unattended run: the run's driver takes the
// tick for a status reading or a write when it has one due; otherwise the
// tick reads the measurements as usual.
bool MainWindow::RunTick()
{
    if (pollState != PollState::Monitor)
        return false;
    return runPage->tick();
}

void MainWindow::StartRun()
{
    runPage->start({portBox->currentText(), slaveBox->value()});
}

void MainWindow::Disconnect()
{
    // During a run the operator is asked first; the port closes once the
    // run has switched the output off (or given up on it).
    if (runPage->confirmDisconnect())
        ClosePort();
}

void MainWindow::HoldPanelForRun(bool running)
{
    // While a run drives the supply, the panel cannot change it behind the
    // run's back, nor send the run's writes to another address.
    const QString why = running ? tr("Источником управляет прогон; «Стоп» на странице «Прогон» возвращает управление")
                                : QString();
    // Each control's own tip (the output switch names its shortcut) comes
    // back when the run ends.
    static const char idleTip[] = "idleToolTip";
    for (QWidget *w : std::initializer_list<QWidget *>{form->doubleSpinBoxV, form->doubleSpinBoxA,
                                                        form->pushButtonApply, form->pushButtonOnOff, slaveBox}) {
        if (running) {
            if (!w->property(idleTip).isValid())
                w->setProperty(idleTip, w->toolTip());
            w->setToolTip(why);
        } else if (w->property(idleTip).isValid()) {
            w->setToolTip(w->property(idleTip).toString());
            w->setProperty(idleTip, QVariant());
        }
    }
    form->pushButtonOnOff->setEnabled(!running);
    slaveBox->setEnabled(!running);
    SetSetpointsKnown(setpointsKnown);
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

bool MainWindow::isOpen() const
{
    return port->isOpen();
}

bool MainWindow::reopen()
{
    ReopenForRun();
    return port->isOpen();
}

RunTransport::Result MainWindow::readStatus(StatusRecord &reading)
{
    const LinkResult result = ShowStatus();
    if (result == LinkResult::GoodReply)
        reading = status;
    return ResultOf(result);
}

RunTransport::Result MainWindow::readMeasurement(MeasurementRecord &reading)
{
    if (!ShowMeasurements())
        return Result::NoAnswer;
    reading = measurement;
    return Result::Done;
}

RunTransport::Result MainWindow::writeSetpoints(const SetpointRecord &setpoints)
{
    const LinkResult result = link->SetSetpoints(slaveAddress, setpoints.VoltageSet, setpoints.CurrentSet);
    // The boxes keep showing what the supply holds, as the run changes it.
    if (result == LinkResult::GoodReply)
        ShowSetpoints(setpoints);
    return ResultOf(result);
}

RunTransport::Result MainWindow::writeOutput(bool on)
{
    const LinkResult result =
        link->SetOutput(slaveAddress, on ? CommandSet::OutputOnValue : CommandSet::OutputOffValue);
    if (result == LinkResult::GoodReply)
        chart->AddSwitch(on);
    return ResultOf(result);
}
