#include "mainwindow.h"

#include "connection.h"
#include "lineruntransport.h"
#include "lineview.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "panelsetpoints.h"
#include "pollcycle.h"
#include "runpage.h"
#include "sharedline.h"
#include "supplyreadings.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>

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
    if (!connection->IsConnected())
        return {};
    const int address = slaveBox->value();
    for (const LineMember &member : connection->Line().Members()) {
        if (member.pid != connection->Line().Member().pid && member.RunsOn(address))
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
    setpoints->Refresh();
    ShowLineRole();
}

// A port lost during a run is reopened by its name, quietly: the run's
// recording notes the gap and the reconnection.
void MainWindow::ReopenForRun()
{
    if (connection->IsConnected() || !runPage->isActive())
        return;
    TellLine();
    if (!connection->Reopen(portBox->currentText()))
        return;
    BeginConnection();
    poll->ResumeAfterReopen();
    ResumePolling();
}

void MainWindow::BuildRunTransport()
{
    runTransport = std::make_unique<LineRunTransport>();
    runTransport->Attach(connection->Link(), connection->Line());
    // A lost port is reopened by the name the operator chose, quietly; a
    // handover keeps the connection and only needs the line back.
    runTransport->SetConnection([this] { return connection->IsConnected(); },
                                [this] {
                                    ReopenForRun();
                                    return connection->IsConnected() && connection->Line().IsOpen();
                                });
    runTransport->SetStatusShown([this](RunTransport::Result result, const StatusRecord &reading) {
        readings->ShowRunStatus(result == RunTransport::Result::Done       ? LinkResult::GoodReply
                                : result == RunTransport::Result::NoAnswer ? LinkResult::NoReply
                                                                           : LinkResult::BadReply,
                                reading);
    });
    runTransport->SetOutputShown([this](bool on) { chart->AddSwitch(on); });
}
