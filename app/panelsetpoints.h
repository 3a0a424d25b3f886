#pragma once

#include "linkresult.h"
#include "records.h"

#include <QObject>

#include <functional>

class Connection;
class QPushButton;
class SetpointSpinBox;

// The panel's set-point boxes as the supply's state: they show what the
// supply holds, whoever wrote it, and leave alone what the operator edits.
class PanelSetpoints : public QObject
{
    Q_OBJECT

public:
    struct Boxes {
        SetpointSpinBox *volts;
        SetpointSpinBox *amperes;
        QPushButton *apply;
    };
    // heldBy says why the panel may not change its supply now (empty when it
    // may): the boxes stay disabled meanwhile.
    PanelSetpoints(Connection &connection, Boxes boxes, std::function<QString()> heldBy,
                   QObject *parent = nullptr);

    // Reads the supply's set-points into the boxes; false when none came.
    bool Load();
    // Whether the boxes hold what this supply holds: false from a connect or
    // a change of address until a set-point read succeeds.
    bool Known() const { return known; }
    // Dims the boxes or frees them, as the panel's hold says now.
    void Refresh() { SetKnown(known); }
    // A box still holding a number it does not take says so; true then.
    bool ShowUntaken();
    // A box the operator left alone takes what the supply holds now: a value
    // another program wrote while the box had the focus is not undone.
    void TakeUneditedFromSupply();
    LinkResult Send();

public slots:
    // What the line heard of a supply: the boxes follow its set-points.
    void SupplyStateChanged(quint8 address);
    void ForgetSupply();

signals:
    void shown(double volts, double amperes);
    void forgotten();

private:
    void Show(const SetpointRecord &setpoints);
    // The boxes take the set-points the supply holds, except one the
    // operator is editing (focused, or changed since last shown).
    void Follow(const SetpointRecord &setpoints);
    bool BoxEdited(const SetpointSpinBox *box, int shownThousandths) const;
    void NoteShown();
    void SetKnown(bool value);

    Connection &connection;
    Boxes boxes;
    std::function<QString()> heldBy;
    bool known = false;
    // What the boxes were last given from the supply (thousandths, as the
    // boxes hold them), to tell the operator's edits from it; -1: nothing.
    int shownMillivolts = -1;
    int shownMilliamperes = -1;
};
