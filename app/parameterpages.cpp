#include "mainwindow.h"

#include "commandset.h"
#include "devicelink.h"
#include "mainwindowform.h"

#include <QSpinBox>

#include <algorithm>

namespace {

// Which spin box holds which record field, in both directions.
struct CalibrationBox {
    QSpinBox *MainWindowForm::*box;
    int32_t CalibrationRecord::*field;
};

const CalibrationBox CalibrationBoxes[] = {
    {&MainWindowForm::spinBoxKuDacVolt, &CalibrationRecord::KuDacVolt},
    {&MainWindowForm::spinBoxKuAdcVolt, &CalibrationRecord::KuAdcVolt},
    {&MainWindowForm::spinBoxKuDacCurr, &CalibrationRecord::KuDacCurr},
    {&MainWindowForm::spinBoxKuAdcCurr, &CalibrationRecord::KuAdcCurr},
    {&MainWindowForm::spinBoxKuAdcCurrFune, &CalibrationRecord::KuAdcCurrFine},
    {&MainWindowForm::spinBoxOffDacVolt, &CalibrationRecord::OffDacVolt},
    {&MainWindowForm::spinBoxOffAdcVolt, &CalibrationRecord::OffAdcVolt},
    {&MainWindowForm::spinBoxOffDacCurr, &CalibrationRecord::OffDacCurr},
    {&MainWindowForm::spinBoxOffAdcCurr, &CalibrationRecord::OffAdcCurr},
    {&MainWindowForm::spinBoxOffAdcCurrFine, &CalibrationRecord::OffAdcCurrFine},
    {&MainWindowForm::spinBoxRout, &CalibrationRecord::Rout},
};

struct UserParamBox {
    QSpinBox *MainWindowForm::*box;
    int32_t UserParamRecord::*field;
    bool writable;
};

const UserParamBox UserParamBoxes[] = {
    {&MainWindowForm::spinBoxNVPstatus, &UserParamRecord::NVPstatus, true},
    // The supply keeps its life counter itself: shown, never sent.
    {&MainWindowForm::spinBoxLifeCounter, &UserParamRecord::LifeCounter, false},
    {&MainWindowForm::spinBoxCurrTrigStat, &UserParamRecord::CurrTrigStat, true},
    {&MainWindowForm::spinBoxCurrTrigTime, &UserParamRecord::CurrTrigTime, true},
    {&MainWindowForm::spinBoxAdjStatus, &UserParamRecord::AdjStatus, true},
    {&MainWindowForm::spinBoxCurrAdgStatus, &UserParamRecord::CurrAdgStatus, true},
    {&MainWindowForm::spinBoxVoltmetrStatus, &UserParamRecord::VoltmetrStatus, true},
    {&MainWindowForm::spinBoxVoltmetrTime, &UserParamRecord::VoltmetrTime, true},
    {&MainWindowForm::spinBoxCurrentTrigger, &UserParamRecord::CurrentTrigger, true},
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
bool HoldsWritten(const CalibrationRecord &held, const CalibrationRecord &written)
{
    for (const CalibrationBox &entry : CalibrationBoxes) {
        if (held.*entry.field != written.*entry.field)
            return false;
    }
    return true;
}

bool HoldsWritten(const UserParamRecord &held, const UserParamRecord &written)
{
    for (const UserParamBox &entry : UserParamBoxes) {
        if (entry.writable && held.*entry.field != written.*entry.field)
            return false;
    }
    return true;
}

}  // namespace

void MainWindow::LoadCalibration()
{
    const quint32 connection = connectionSerial;
    if (link->GetCalibration(slaveAddress, calibration, CommandSet::AccessRead) != GoodReply) {
        ShowReadFailure();
        return;
    }
    for (const CalibrationBox &entry : CalibrationBoxes)
        ShowDeviceValue(form->*entry.box, calibration.*entry.field);
    if (connection == connectionSerial)
        form->pushButtonApplyCalibr->setEnabled(true);
}

void MainWindow::StoreCalibration()
{
    for (const CalibrationBox &entry : CalibrationBoxes)
        calibration.*entry.field = (form->*entry.box)->value();
    if (link->SetCalibration(slaveAddress, calibration, CommandSet::AccessWrite) == GoodReply)
        return;
    // Read back once: only when the supply does not hold the values is the
    // write a failure.
    CalibrationRecord held;
    if (link->GetCalibration(slaveAddress, held, CommandSet::AccessRead) != GoodReply
        || !HoldsWritten(held, calibration))
        ShowWriteFailure();
}

void MainWindow::LoadUserParams()
{
    const quint32 connection = connectionSerial;
    if (link->GetUserParams(slaveAddress, userParams, CommandSet::AccessRead) != GoodReply) {
        ShowReadFailure();
        return;
    }
    for (const UserParamBox &entry : UserParamBoxes)
        ShowDeviceValue(form->*entry.box, userParams.*entry.field);
    if (connection == connectionSerial)
        form->pushButtonApplyUserParam->setEnabled(true);
}

void MainWindow::StoreUserParams()
{
    for (const UserParamBox &entry : UserParamBoxes) {
        if (entry.writable)
            userParams.*entry.field = (form->*entry.box)->value();
    }
    if (link->SetUserParams(slaveAddress, userParams, CommandSet::AccessWrite) == GoodReply)
        return;
    UserParamRecord held;
    if (link->GetUserParams(slaveAddress, held, CommandSet::AccessRead) != GoodReply
        || !HoldsWritten(held, userParams))
        ShowWriteFailure();
}
