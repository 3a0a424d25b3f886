#include "mainwindow.h"

#include "commandset.h"
#include "devicelink.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "runpage.h"
#include "units.h"
#include "writeattempts.h"

#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

void MainWindow::TimeOut()
{
    const quint8 address = quint8(slaveBox->value());
    if (address != slaveAddress) {
        slaveAddress = address;
        SupplyChanged();
    }
    // A click while this tick's operation waits is a new request; finishing
    // the old one must not drop it.
    const quint32 request = requestSerial;
    if (RunTick()) {
        LogStep();
        return;
    }
    auto completed = [this, request] {
        if (requestSerial == request)
            pollState = Monitor;
    };

    switch (pollState) {
    case Monitor:
        if (!setpointsKnown
            && (!setpointRetryClock.isValid() || setpointRetryClock.elapsed() >= SetpointRetryMs)) {
            setpointRetryClock.start();
            LoadSetpoints();
        } else if (!readToggle) {
            const bool good = ShowStatus() == GoodReply;
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
        } else if (retryCount >= WriteTries - 1) {
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

LinkResult MainWindow::ShowStatus()
{
    const LinkResult result = link->GetStatus(slaveAddress, status);
    if (result != GoodReply) {
        chart->AddReadFailure();
        // One lost reply happens on a noisy line; two in a row mean the supply
        // has stopped answering and what the displays show is old.
        if (++statusFailures >= StaleAfterFailures)
            ShowReadingsStale();
        return result;
    }
    chart->AddStatus(status);
    runPage->feedStatus(status);
    statusFailures = 0;
    statusReadThisConnection = true;
    form->lcdNumberV->setEnabled(true);
    form->lcdNumberA->setEnabled(true);
    form->lcdNumberV->display(FormatDigits(status.Voltage, 1));
    form->lcdNumberA->display(FormatDigits(OutputMilliamperes(status), 0));
    form->label_cc->setPixmap(QPixmap(status.CcFlag ? ":/new/prefix1/rec/LED_ON_RED.png"
                                                    : ":/new/prefix1/rec/LED_OFF.png"));
    form->label_cv->setPixmap(QPixmap(status.CvFlag ? ":/new/prefix1/rec/LED_ON_GREEN.png"
                                                    : ":/new/prefix1/rec/LED_OFF.png"));
    form->pushButtonOnOff->setText(status.OutputOn ? tr("Выключить")
                                                   : tr("Включить"));
    return GoodReply;
}

void MainWindow::ShowReadingsStale()
{
    // Dimmed digits and dark lamps: the last values stay readable but no
    // longer look live. The next good status lights them again.
    form->lcdNumberV->setEnabled(false);
    form->lcdNumberA->setEnabled(false);
    form->label_cc->setPixmap(QPixmap(":/new/prefix1/rec/LED_OFF.png"));
    form->label_cv->setPixmap(QPixmap(":/new/prefix1/rec/LED_OFF.png"));
}

bool MainWindow::ShowMeasurements()
{
    if (link->GetMeasurements(slaveAddress, measurement) != GoodReply) {
        // As for the displays: one lost reply is noise, two in a row are old
        // values.
        if (++measureFailures >= StaleAfterFailures)
            ShowMeasurementsStale(true);
        return false;
    }
    measureFailures = 0;
    ShowMeasurementsStale(false);
    runPage->feedMeasurement(measurement);
    form->doubleSpinBoxVsdadc->setValue(MeasuredVolts(measurement));
    form->doubleSpinBoxCsdadc->setValue(MeasuredAmperes(measurement));
    form->doubleSpinBoxTemp->setValue(MeasuredCelsius(measurement));
    form->doubleSpinBoxVin->setValue(InputVolts(measurement));
    form->doubleSpinBoxVref->setValue(ReferenceVolts(measurement));
    form->doubleSpinBoxVpwm->setValue(PwmVolts(measurement));
    return true;
}

void MainWindow::ShowMeasurementsStale(bool stale)
{
    // The whole page is dimmed: one of its boxes is disabled by the form.
    form->tab_2->setEnabled(!stale);
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
    const int millivolts = ToThousandths(form->doubleSpinBoxV->value());
    const int milliamperes = ToThousandths(form->doubleSpinBoxA->value());
    const LinkResult result = link->SetSetpoints(slaveAddress, millivolts, milliamperes);
    if (result == GoodReply)
        chart->SetSetpoints(millivolts / 1000.0, milliamperes / 1000.0);
    return result;
}

LinkResult MainWindow::SendOutputSwitch()
{
    // The switch goes the other way from the output's state: right after
    // connecting no status has told it yet, so it is read first.
    if (!statusReadThisConnection) {
        const LinkResult result = ShowStatus();
        if (result != GoodReply)
            return result;
    }
    const int value = status.OutputOn ? CommandSet::OutputOffValue : CommandSet::OutputOnValue;
    const LinkResult result = link->SetOutput(slaveAddress, value);
    if (result == GoodReply)
        chart->AddSwitch(value == CommandSet::OutputOnValue);
    return result;
}

void MainWindow::ShowWriteFailure()
{
    if (portLost || runPage->takeMessage(tr("Ошибка записи")))
        return;
    ShowError(tr("Ошибка записи"));
}

void MainWindow::ShowReadFailure()
{
    if (portLost || runPage->takeMessage(tr("Ошибка чтения")))
        return;
    ShowError(tr("Ошибка чтения"));
}
