#include "supplyreadings.h"

#include "connection.h"
#include "devicelink.h"
#include "mainwindowform.h"
#include "units.h"

#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

SupplyReadings::SupplyReadings(Connection &connection, MainWindowForm *form, QLabel *silenceLabel,
                               QObject *parent)
    : QObject(parent), connection(connection), form(form), silenceLabel(silenceLabel)
{
}

LinkResult SupplyReadings::ReadStatus()
{
    return ShowStatusReading(connection.Link().GetStatus(connection.Address(), status));
}

void SupplyReadings::ShowRunStatus(LinkResult result, const StatusRecord &reading)
{
    if (result == LinkResult::GoodReply)
        status = reading;
    ShowStatusReading(result);
}

LinkResult SupplyReadings::ShowStatusReading(LinkResult result)
{
    if (result != LinkResult::GoodReply) {
        emit statusFailed();
        // One lost reply happens on a noisy line; two in a row mean the supply
        // has stopped answering and what the displays show is old.
        if (++statusFailures >= StaleAfterFailures)
            ShowReadingsStale();
        ShowSilence(false);
        return result;
    }
    ShowSilence(true);
    emit statusShown(status);
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
    return LinkResult::GoodReply;
}

void SupplyReadings::ShowReadingsStale()
{
    // Dimmed digits and dark lamps: the last values stay readable but no
    // longer look live. The next good status lights them again.
    form->lcdNumberV->setEnabled(false);
    form->lcdNumberA->setEnabled(false);
    form->label_cc->setPixmap(QPixmap(":/new/prefix1/rec/LED_OFF.png"));
    form->label_cv->setPixmap(QPixmap(":/new/prefix1/rec/LED_OFF.png"));
}

void SupplyReadings::ShowSilence(bool answered)
{
    if (answered || !connection.IsConnected()) {
        lastAnswer.start();
        silenceLabel->clear();
        return;
    }
    // As for the displays: one lost reply is noise.
    if (statusFailures < StaleAfterFailures && measureFailures < StaleAfterFailures)
        return;
    const qint64 seconds = std::max<qint64>(1, (lastAnswer.elapsed() + 500) / 1000);
    silenceLabel->setText(tr("нет ответа %1 с").arg(seconds));
}

bool SupplyReadings::ReadMeasurements()
{
    if (connection.Link().GetMeasurements(connection.Address(), measurement) != LinkResult::GoodReply) {
        // As for the displays: one lost reply is noise, two in a row are old
        // values.
        if (++measureFailures >= StaleAfterFailures)
            ShowMeasurementsStale(true);
        ShowSilence(false);
        return false;
    }
    ShowSilence(true);
    measureFailures = 0;
    ShowMeasurementsStale(false);
    emit measured(measurement);
    form->doubleSpinBoxVsdadc->setValue(MeasuredVolts(measurement));
    form->doubleSpinBoxCsdadc->setValue(MeasuredAmperes(measurement));
    form->doubleSpinBoxTemp->setValue(MeasuredCelsius(measurement));
    form->doubleSpinBoxVin->setValue(InputVolts(measurement));
    form->doubleSpinBoxVref->setValue(ReferenceVolts(measurement));
    form->doubleSpinBoxVpwm->setValue(PwmVolts(measurement));
    return true;
}

void SupplyReadings::ShowMeasurementsStale(bool stale)
{
    // The whole page is dimmed: one of its boxes is disabled by the form.
    form->tab_2->setEnabled(!stale);
}

bool SupplyReadings::TakeFreshStatus(StatusRecord *reading)
{
    if (!statusFresh)
        return false;
    statusFresh = false;
    *reading = status;
    return true;
}

bool SupplyReadings::TakeFreshMeasurement(MeasurementRecord *reading)
{
    if (!measureFresh)
        return false;
    measureFresh = false;
    *reading = measurement;
    return true;
}

void SupplyReadings::BeginConnection()
{
    measureFailures = 0;
    ShowSilence(true);
}

void SupplyReadings::ForgetSupply()
{
    statusFailures = 0;
    statusReadThisConnection = false;
}

QString SupplyReadings::FormatDigits(qint32 value, qint32 pointIndex)
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
