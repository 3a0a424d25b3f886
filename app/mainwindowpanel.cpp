// The panel's buttons and keys: what the operator asks of the supply, passed
// to the poll cycle unless a run holds the panel.

#include "mainwindow.h"

#include "mainwindowform.h"
#include "panelsetpoints.h"
#include "pollcycle.h"
#include "runpage.h"

#include <QPushButton>
#include <QStatusBar>

void MainWindow::ApplyParam()
{
    // The panel's controls are disabled during a run (this window's or
    // another program's); a key must not get round them either.
    if (!PanelHeldBy().isEmpty())
        return;
    // A box still holding a number it does not take says so, and nothing
    // is sent: neither that number nor the one the box held before.
    if (setpoints->ShowUntaken())
        return;
    setpoints->TakeUneditedFromSupply();
    poll->ApplySetpoints();
}

void MainWindow::ApplyFromKeyboard()
{
    if (form->pushButtonApply->isEnabled())
        ApplyParam();
}

void MainWindow::OnOff()
{
    if (!PanelHeldBy().isEmpty())
        return;
    poll->SwitchOutput(false);
}

void MainWindow::SwitchOutputOff()
{
    // During a run the off is the run's stop: recorded, written and
    // confirmed by the run, never behind its back.
    if (runPage->isActive()) {
        runPage->stop();
        return;
    }
    // Another program's run switches its output off itself, when it ends.
    const QString heldBy = PanelHeldBy();
    if (!heldBy.isEmpty()) {
        form->statusBar->showMessage(heldBy, 5000);
        return;
    }
    poll->SwitchOutput(true);
}
