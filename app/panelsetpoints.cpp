#include "panelsetpoints.h"

#include "connection.h"
#include "devicelink.h"
#include "setpointspinbox.h"
#include "supplystate.h"
#include "units.h"

#include <QPushButton>

PanelSetpoints::PanelSetpoints(Connection &connection, Boxes boxes, std::function<QString()> heldBy,
                               QObject *parent)
    : QObject(parent), connection(connection), boxes(boxes), heldBy(std::move(heldBy))
{
}

bool PanelSetpoints::Load()
{
    SetpointRecord setpoints;
    if (connection.Link().GetSetpoints(connection.Address(), setpoints) != LinkResult::GoodReply)
        return false;
    Show(setpoints);
    return true;
}

void PanelSetpoints::Show(const SetpointRecord &setpoints)
{
    boxes.volts->setValue(SetpointVolts(setpoints));
    boxes.amperes->setValue(SetpointAmperes(setpoints));
    NoteShown();
    emit shown(SetpointVolts(setpoints), SetpointAmperes(setpoints));
    SetKnown(true);
}

void PanelSetpoints::SetKnown(bool value)
{
    // Until the supply's set-points are read, the boxes hold values nobody
    // chose from this supply: dimmed, and not to be applied.
    known = value;
    // A run holds the boxes until it ends.
    const bool free = known && heldBy().isEmpty();
    boxes.volts->setEnabled(free);
    boxes.amperes->setEnabled(free);
    boxes.apply->setEnabled(free);
    if (!known) {
        shownMillivolts = shownMilliamperes = -1;
        emit forgotten();
    }
}

void PanelSetpoints::ForgetSupply()
{
    SetKnown(false);
}

void PanelSetpoints::SupplyStateChanged(quint8 address)
{
    if (!connection.IsConnected() || address != connection.Address())
        return;
    const SupplyState state = connection.States()->At(address);
    if (state.setpoints.value)
        Follow(*state.setpoints.value);
}

bool PanelSetpoints::BoxEdited(const SetpointSpinBox *box, int shownThousandths) const
{
    if (shownThousandths < 0)
        return false;
    // A number the box does not take stays as typed: it is the operator's too.
    return box->hasFocus() || !box->hasAcceptableInput() || ToThousandths(box->value()) != shownThousandths;
}

void PanelSetpoints::NoteShown()
{
    // As the boxes hold them, clamped to their ranges and rounded to their
    // decimals.
    shownMillivolts = ToThousandths(boxes.volts->value());
    shownMilliamperes = ToThousandths(boxes.amperes->value());
}

void PanelSetpoints::Follow(const SetpointRecord &setpoints)
{
    const bool editedV = BoxEdited(boxes.volts, shownMillivolts);
    const bool editedA = BoxEdited(boxes.amperes, shownMilliamperes);
    if (!editedV)
        boxes.volts->setValue(SetpointVolts(setpoints));
    if (!editedA)
        boxes.amperes->setValue(SetpointAmperes(setpoints));
    // What an edited box showed last stays the mark its edit is told by.
    const int keptV = shownMillivolts;
    const int keptA = shownMilliamperes;
    NoteShown();
    if (editedV)
        shownMillivolts = keptV;
    if (editedA)
        shownMilliamperes = keptA;
    emit shown(SetpointVolts(setpoints), SetpointAmperes(setpoints));
    if (!known)
        SetKnown(true);
}

bool PanelSetpoints::ShowUntaken()
{
    // Neither the number typed nor the one the box held before is sent.
    for (SetpointSpinBox *box : {boxes.volts, boxes.amperes}) {
        if (!box->hasAcceptableInput()) {
            box->ShowRange();
            return true;
        }
    }
    return false;
}

void PanelSetpoints::TakeUneditedFromSupply()
{
    const SupplyState state = connection.States()->At(connection.Address());
    if (state.setpoints.value) {
        if (!BoxEdited(boxes.volts, shownMillivolts))
            boxes.volts->setValue(SetpointVolts(*state.setpoints.value));
        if (!BoxEdited(boxes.amperes, shownMilliamperes))
            boxes.amperes->setValue(SetpointAmperes(*state.setpoints.value));
    }
}

LinkResult PanelSetpoints::Send()
{
    const int millivolts = ToThousandths(boxes.volts->value());
    const int milliamperes = ToThousandths(boxes.amperes->value());
    // Acknowledged, the values become the supply's state, which the boxes
    // and the chart show.
    return connection.Link().SetSetpoints(connection.Address(), millivolts, milliamperes);
}
