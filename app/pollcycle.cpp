#include "mainwindow.h"

#include "commandset.h"
#include "devicelink.h"
#include "mainwindowform.h"

#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

void MainWindow::TimeOut()
{
    slaveAddress = quint8(slaveBox->value());
    // A click while this tick's operation waits is a new request; finishing
    // the old one must not drop it.
    const quint32 request = requestSerial;
    auto completed = [this, request] {
        if (requestSerial == request)
            pollState = Monitor;
    };

    switch (pollState) {
    case Monitor:
        if (!readToggle) {
            const bool good = ShowStatus();
            readToggle = true;
            statusFresh = good;
        } else {
            const bool good = ShowMeasurements();
            readToggle = false;
            measureFresh = good;
        }
        break;
    case ApplySetpoints:
    case SwitchOutput: {
        const LinkResult result =
            pollState == ApplySetpoints ? SendSetpoints() : SendOutputSwitch();
        if (result == GoodReply) {
            completed();
        } else if (retryCount > 2) {
            ShowWriteFailure();
            completed();
        } else if (requestSerial == request) {
            ++retryCount;
        }
        break;
    }
    case CalibrationRead:
        LoadCalibration();
        completed();
        break;
    case CalibrationWrite:
        StoreCalibration();
        completed();
        break;
    case UserParamsRead:
        LoadUserParams();
        completed();
        break;
    case UserParamsWrite:
        StoreUserParams();
        completed();
        break;
    }
    LogStep();
}

void MainWindow::RequestOperation(PollState state)
{
    pollState = state;
    ++requestSerial;
}

void MainWindow::ApplyParam()
{
    RequestOperation(ApplySetpoints);
    retryCount = 0;
}

void MainWindow::OnOff()
{
    RequestOperation(SwitchOutput);
    retryCount = 0;
}

void MainWindow::ReadParam()
{
    RequestOperation(CalibrationRead);
}

void MainWindow::WriteParam()
{
    RequestOperation(CalibrationWrite);
}

void MainWindow::ReadUserParam()
{
    RequestOperation(UserParamsRead);
}

void MainWindow::WriteUserParam()
{
    RequestOperation(UserParamsWrite);
}

bool MainWindow::ShowStatus()
{
    if (link->GetStatus(slaveAddress, status) != GoodReply)
        return false;
    form->lcdNumberV->display(FormatDigits(status.Voltage, 1));
    form->lcdNumberA->display(FormatDigits(status.Current, 0));
    form->label_cc->setPixmap(QPixmap(status.CcFlag ? ":/new/prefix1/rec/LED_ON_RED.png"
                                                    : ":/new/prefix1/rec/LED_OFF.png"));
    form->label_cv->setPixmap(QPixmap(status.CvFlag ? ":/new/prefix1/rec/LED_ON_GREEN.png"
                                                    : ":/new/prefix1/rec/LED_OFF.png"));
    form->pushButtonOnOff->setText(status.OutputOn ? QStringLiteral("Выключить")
                                                   : QStringLiteral("Включить"));
    return true;
}

bool MainWindow::ShowMeasurements()
{
    if (link->GetMeasurements(slaveAddress, measurement) != GoodReply)
        return false;
    form->doubleSpinBoxVsdadc->setValue(measurement.Vsdadc / 1000.0);
    form->doubleSpinBoxCsdadc->setValue(measurement.Csdadc / 1000.0);
    form->doubleSpinBoxTemp->setValue(measurement.Temp / 10.0);
    form->doubleSpinBoxVin->setValue(measurement.Vin / 1000.0);
    form->doubleSpinBoxVref->setValue(measurement.Vref / 1000.0);
    form->doubleSpinBoxVpwm->setValue(measurement.Vpwm / 1000.0);
    return true;
}

QString MainWindow::FormatDigits(qint32 value, qint32 pointIndex)
{
    // Four digits is all the display has: a negative current or an overflow is
    // shown at the nearest end of the range rather than as other characters.
    value = std::clamp(value, 0, 9999);
    QString digits;
    qint32 divisor = 1000;
    for (qint32 k = 0; k < 4; ++k) {
        digits += QChar('0' + value / divisor);
        value %= divisor;
        if (k == pointIndex)
            digits += QLatin1Char('.');
        divisor /= 10;
    }
    return digits;
}

LinkResult MainWindow::SendSetpoints()
{
    const double volts = form->doubleSpinBoxV->value();
    const double amperes = form->doubleSpinBoxA->value();
    // The bias keeps a value such as 1.005 from truncating to 1004.
    const int millivolts = int((volts + 0.0002) * 1000);
    const int milliamperes = int((amperes + 0.0002) * 1000);
    return link->SetSetpoints(slaveAddress, millivolts, milliamperes);
}

LinkResult MainWindow::SendOutputSwitch()
{
    const int value = status.OutputOn ? CommandSet::OutputOffValue : CommandSet::OutputOnValue;
    return link->SetOutput(slaveAddress, value);
}

void MainWindow::ShowWriteFailure()
{
    if (portLost)
        return;
    QMessageBox::critical(this, tr("Error"), QStringLiteral("Ошибка записи"));
}

void MainWindow::ShowReadFailure()
{
    if (portLost)
        return;
    QMessageBox::critical(this, tr("Error"), QStringLiteral("Ошибка чтения"));
}
