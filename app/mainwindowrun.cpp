#include "mainwindow.h"

#include "lineruntransport.h"
#include "lineview.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "runpage.h"
#include "sharedline.h"
#include "supplyport.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>

// The poll cycle's share for an unattended run: the run's driver takes the
// tick for a status reading or a write when it has one due; otherwise the
// tick reads the measurements as usual.
bool MainWindow::RunTick()
{
    if (pollState != PollState::Monitor)
        return false;
    runTransport->SetAddress(slaveAddress);
    return runPage->tick();
}

void MainWindow::StartRun()
{
    // Two runs on one supply would undo each other's writes.
    runPage->start({portBox->currentText(), slaveBox->value(), PanelHeldBy()});
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
    Q_UNUSED(running)
    // The others on the line learn that this window runs its address.
    TellLine();
    HoldPanel();
}

QString MainWindow::PanelHeldBy() const
{
    // While a run drives the supply, the panel cannot change it behind the
    // run's back, nor send the run's writes to another address.
    if (runPage->isActive())
        return tr("Источником управляет прогон; «Стоп» на странице «Прогон» возвращает управление");
    if (!connected)
        return {};
    const int address = slaveBox->value();
    for (const LineMember &member : line->Members()) {
        if (member.pid != line->Member().pid && member.RunsOn(address))
            return tr("Источником управляет %1").arg(LineView::MemberWords(member));
    }
    return {};
}

void MainWindow::HoldPanel()
{
    const QString why = PanelHeldBy();
    // Only the window's own run holds the address box: another program's
    // run leaves the operator free to choose another supply.
    const bool ownRun = runPage->isActive();
    // Each control's own tip (the output switch names its shortcut) comes
    // back when the run ends.
    static const char idleTip[] = "idleToolTip";
    for (QWidget *w : std::initializer_list<QWidget *>{form->doubleSpinBoxV, form->doubleSpinBoxA,
                                                        form->pushButtonApply, form->pushButtonOnOff, slaveBox}) {
        const bool holds = !why.isEmpty() && (w != slaveBox || ownRun);
        if (holds) {
            if (!w->property(idleTip).isValid())
                w->setProperty(idleTip, w->toolTip());
            w->setToolTip(why);
        } else if (w->property(idleTip).isValid()) {
            w->setToolTip(w->property(idleTip).toString());
            w->setProperty(idleTip, QVariant());
        }
    }
    form->pushButtonOnOff->setEnabled(why.isEmpty());
    slaveBox->setEnabled(!ownRun);
    SetSetpointsKnown(setpointsKnown);
    ShowLineRole();
}

// A port lost during a run is reopened by its name, quietly: the run's
// recording notes the gap and the reconnection.
void MainWindow::ReopenForRun()
{
    if (connected || !runPage->isActive())
        return;
    // By the name the operator chose: an adapter plugged back may be another
    // device behind the same name. A program that took the line over
    // meanwhile is attached to.
    QString reason;
    TellLine();
    if (!line->Open(portBox->currentText(), false, &reason))
        return;
    BeginConnection();
    setpointRetryClock.invalidate();  // the set-points are read at the next monitor tick
    pollState = PollState::Monitor;
    ResumePolling();
}

void MainWindow::BuildRunTransport()
{
    runTransport = std::make_unique<LineRunTransport>();
    runTransport->Attach(*link, *line);
    // A lost port is reopened by the name the operator chose, quietly; a
    // handover keeps the connection and only needs the line back.
    runTransport->SetConnection([this] { return connected; },
                                [this] {
                                    ReopenForRun();
                                    return connected && line->IsOpen();
                                });
    runTransport->SetStatusShown([this](RunTransport::Result result, const StatusRecord &reading) {
        if (result == RunTransport::Result::Done)
            status = reading;
        ShowStatusReading(result == RunTransport::Result::Done       ? LinkResult::GoodReply
                          : result == RunTransport::Result::NoAnswer ? LinkResult::NoReply
                                                                     : LinkResult::BadReply);
    });
    runTransport->SetOutputShown([this](bool on) { chart->AddSwitch(on); });
}
