#include "parameterpages.h"

#include "commandset.h"
#include "connection.h"
#include "devicelink.h"
#include "mainwindowform.h"
#include "parameterfields.h"

#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

namespace {

// The spin box that shows each field, in the order of the shared field
// tables, which also say which fields are sent back.
using BoxMember = QSpinBox *MainWindowForm::*;

const BoxMember CalibrationBoxes[CalibrationFieldCount] = {
    &MainWindowForm::spinBoxKuDacVolt,
    &MainWindowForm::spinBoxKuAdcVolt,
    &MainWindowForm::spinBoxKuDacCurr,
    &MainWindowForm::spinBoxKuAdcCurr,
    &MainWindowForm::spinBoxKuAdcCurrFune,
    &MainWindowForm::spinBoxOffDacVolt,
    &MainWindowForm::spinBoxOffAdcVolt,
    &MainWindowForm::spinBoxOffDacCurr,
    &MainWindowForm::spinBoxOffAdcCurr,
    &MainWindowForm::spinBoxOffAdcCurrFine,
    &MainWindowForm::spinBoxRout,
};

const BoxMember UserParamBoxes[UserParamFieldCount] = {
    &MainWindowForm::spinBoxNVPstatus,
    &MainWindowForm::spinBoxLifeCounter,
    &MainWindowForm::spinBoxCurrTrigStat,
    &MainWindowForm::spinBoxCurrTrigTime,
    &MainWindowForm::spinBoxVoltmetrStatus,
    &MainWindowForm::spinBoxVoltmetrTime,
    &MainWindowForm::spinBoxAdjStatus,
    &MainWindowForm::spinBoxCurrAdgStatus,
    &MainWindowForm::spinBoxCurrentTrigger,
};

// Shows a value read from the supply as it is. The box's range is the form's,
// widened just enough to hold the value, so that a write sends back exactly
// what was read; the form's range is kept on the box for the next read.
void ShowDeviceValue(QSpinBox *box, int value)
{
    const char *formMin = "formMinimum";
    const char *formMax = "formMaximum";
    if (!box->property(formMin).isValid()) {
        box->setProperty(formMin, box->minimum());
        box->setProperty(formMax, box->maximum());
    }
    box->setRange(std::min(box->property(formMin).toInt(), value),
                  std::max(box->property(formMax).toInt(), value));
    box->setValue(value);
}

// Whether the supply holds what a write sent, for a write whose
// acknowledgement did not come: the write itself may have worked.
template <typename Record, int Count>
bool HoldsWritten(const Record &held, const Record &written,
                  const ParameterField<Record> (&fields)[Count])
{
    for (const ParameterField<Record> &entry : fields) {
        if (entry.writable && held.*entry.field != written.*entry.field)
            return false;
    }
    return true;
}

bool HoldsWritten(const CalibrationRecord &held, const CalibrationRecord &written)
{
    return HoldsWritten(held, written, CalibrationFields);
}

bool HoldsWritten(const UserParamRecord &held, const UserParamRecord &written)
{
    return HoldsWritten(held, written, UserParamFields);
}

}  // namespace

ParameterPages::ParameterPages(Connection &connection, MainWindowForm *form, QObject *parent)
    : QObject(parent), connection(connection), form(form)
{
}

void ParameterPages::LoadCalibration()
{
    const quint32 serial = connection.Serial();
    const LinkResult read = connection.Link().GetCalibration(connection.Address(), calibration, CommandSet::AccessRead);
    if (read != LinkResult::GoodReply) {
        // A disconnect while the read waited is the operator's, no failure.
        if (serial == connection.Serial())
            emit readFailed(read);
        return;
    }
    for (int i = 0; i < CalibrationFieldCount; ++i)
        ShowDeviceValue(form->*CalibrationBoxes[i], calibration.*CalibrationFields[i].field);
    if (serial == connection.Serial())
        form->pushButtonApplyCalibr->setEnabled(true);
}

void ParameterPages::StoreCalibration()
{
    for (int i = 0; i < CalibrationFieldCount; ++i) {
        if (CalibrationFields[i].writable)
            calibration.*CalibrationFields[i].field = (form->*CalibrationBoxes[i])->value();
    }
    if (connection.Link().SetCalibration(connection.Address(), calibration, CommandSet::AccessWrite) == LinkResult::GoodReply)
        return;
    // Read back once: only when the supply does not hold the values is the
    // write a failure.
    CalibrationRecord held;
    const LinkResult readBack = connection.Link().GetCalibration(connection.Address(), held, CommandSet::AccessRead);
    if (readBack != LinkResult::GoodReply || !HoldsWritten(held, calibration))
        emit writeFailed(readBack);
}

void ParameterPages::LoadUserParams()
{
    const quint32 serial = connection.Serial();
    const LinkResult read = connection.Link().GetUserParams(connection.Address(), userParams, CommandSet::AccessRead);
    if (read != LinkResult::GoodReply) {
        // A disconnect while the read waited is the operator's, no failure.
        if (serial == connection.Serial())
            emit readFailed(read);
        return;
    }
    for (int i = 0; i < UserParamFieldCount; ++i)
        ShowDeviceValue(form->*UserParamBoxes[i], userParams.*UserParamFields[i].field);
    if (serial == connection.Serial())
        form->pushButtonApplyUserParam->setEnabled(true);
}

void ParameterPages::StoreUserParams()
{
    for (int i = 0; i < UserParamFieldCount; ++i) {
        if (UserParamFields[i].writable)
            userParams.*UserParamFields[i].field = (form->*UserParamBoxes[i])->value();
    }
    if (connection.Link().SetUserParams(connection.Address(), userParams, CommandSet::AccessWrite) == LinkResult::GoodReply)
        return;
    UserParamRecord held;
    const LinkResult readBack = connection.Link().GetUserParams(connection.Address(), held, CommandSet::AccessRead);
    if (readBack != LinkResult::GoodReply || !HoldsWritten(held, userParams))
        emit writeFailed(readBack);
}

void ParameterPages::EnableWrites(bool enabled)
{
    // A page is written only after it was read in this connection: a write
    // before would send the form's initial values over the supply's own.
    form->pushButtonApplyCalibr->setEnabled(enabled);
    form->pushButtonApplyUserParam->setEnabled(enabled);
}

void ParameterPages::ForgetSupply()
{
    EnableWrites(false);
}
