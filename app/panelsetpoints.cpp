// The panel's set-point boxes as the supply's state: they show what the
// supply holds, whoever wrote it, and leave alone what the operator edits.

#include "mainwindow.h"

#include "livechart.h"
#include "mainwindowform.h"
#include "setpointspinbox.h"
#include "sharedline.h"
#include "supplystate.h"
#include "units.h"

void MainWindow::SupplyStateChanged(quint8 address)
{
    if (!connected || address != slaveAddress)
        return;
    const SupplyState state = supplyStates->At(address);
    if (state.setpoints.value)
        FollowSetpoints(*state.setpoints.value);
}

bool MainWindow::BoxEdited(const SetpointSpinBox *box, int shownThousandths) const
{
    if (shownThousandths < 0)
        return false;
    // A number the box does not take stays as typed: it is the operator's too.
    return box->hasFocus() || !box->hasAcceptableInput() || ToThousandths(box->value()) != shownThousandths;
}

void MainWindow::NoteSetpointsShown()
{
    // As the boxes hold them, clamped to their ranges and rounded to their
    // decimals.
    shownMillivolts = ToThousandths(form->doubleSpinBoxV->value());
    shownMilliamperes = ToThousandths(form->doubleSpinBoxA->value());
}

void MainWindow::FollowSetpoints(const SetpointRecord &setpoints)
{
    const bool editedV = BoxEdited(form->doubleSpinBoxV, shownMillivolts);
    const bool editedA = BoxEdited(form->doubleSpinBoxA, shownMilliamperes);
    if (!editedV)
        form->doubleSpinBoxV->setValue(SetpointVolts(setpoints));
    if (!editedA)
        form->doubleSpinBoxA->setValue(SetpointAmperes(setpoints));
    // What an edited box showed last stays the mark its edit is told by.
    const int keptV = shownMillivolts;
    const int keptA = shownMilliamperes;
    NoteSetpointsShown();
    if (editedV)
        shownMillivolts = keptV;
    if (editedA)
        shownMilliamperes = keptA;
    chart->SetSetpoints(SetpointVolts(setpoints), SetpointAmperes(setpoints));
    if (!setpointsKnown)
        SetSetpointsKnown(true);
}

bool MainWindow::LineShared() const
{
    return line->CurrentRole() == SharedLine::Role::Attached || line->Members().size() > 1;
}
