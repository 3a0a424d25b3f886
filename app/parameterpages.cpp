#include "mainwindow.h"

#include "commandset.h"
#include "devicelink.h"
#include "mainwindowform.h"

#include <QSpinBox>

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

}  // namespace

void MainWindow::LoadCalibration()
{
    if (link->GetCalibration(slaveAddress, calibration, CommandSet::AccessRead) != GoodReply) {
        ShowReadFailure();
        return;
    }
    for (const CalibrationBox &entry : CalibrationBoxes)
        (form->*entry.box)->setValue(calibration.*entry.field);
}

void MainWindow::StoreCalibration()
{
    for (const CalibrationBox &entry : CalibrationBoxes)
        calibration.*entry.field = (form->*entry.box)->value();
    if (link->SetCalibration(slaveAddress, calibration, CommandSet::AccessWrite) != GoodReply)
        ShowWriteFailure();
}

void MainWindow::LoadUserParams()
{
    if (link->GetUserParams(slaveAddress, userParams, CommandSet::AccessRead) != GoodReply) {
        ShowReadFailure();
        return;
    }
    for (const UserParamBox &entry : UserParamBoxes)
        (form->*entry.box)->setValue(userParams.*entry.field);
}

void MainWindow::StoreUserParams()
{
    for (const UserParamBox &entry : UserParamBoxes) {
        if (entry.writable)
            userParams.*entry.field = (form->*entry.box)->value();
    }
    if (link->SetUserParams(slaveAddress, userParams, CommandSet::AccessWrite) != GoodReply)
        ShowWriteFailure();
}
