#include "mainwindow.h"

#include "commandset.h"
#include "devicelink.h"
#include "lineschedule.h"
#include "lineview.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "runpage.h"
#include "sharedline.h"
#include "supplystate.h"
#include "units.h"
#include "writeattempts.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

void MainWindow::TimeOut()
{
    // Each tick is the window's turn on the line's one queue: taken at once
    // when the line is free (after what other programs have due before it),
    // else after the exchange under way, never inside it. A tick that comes
    // while one waits its turn, or runs, adds nothing: one tick at most waits.
    if (tickWaiting)
        return;
    tickWaiting = true;
    LineSchedule &queue = link->Schedule();
    QPointer<MainWindow> self(this);
    const quint64 tick = queue.SubmitJob(LineSchedule::OwnUser, [self] {
        if (self)
            self->WaitingTick();
    });
    if (!queue.RunUntilDone(tick) || !queue.IsIdle())
        link->RunScheduleSoon();
}

void MainWindow::WaitingTick()
{
    // A tick that comes while this one runs (its exchanges wait in the event
    // loop) is dropped, as a timer's own ticks are while its slot runs: the
    // next operation waits for the next tick.
    struct TickEnd {
        bool &waiting;
        ~TickEnd() { waiting = false; }
    } tickEnd{tickWaiting};
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
            pollState = PollState::Monitor;
    };

    switch (pollState) {
    case PollState::Monitor:
        // The line's view reads every other monitor tick while it wants to:
        // the panel keeps half of them.
        if (lineView->WantsRead() && (lineViewTurn = !lineViewTurn)) {
            lineView->Step(*link);
        } else if (!setpointsKnown
            && (!setpointRetryClock.isValid() || setpointRetryClock.elapsed() >= SetpointRetryMs)) {
            setpointRetryClock.start();
            LoadSetpoints();
        } else if (runPage->isActive()) {
            // The run reads the status itself, on its own schedule.
            measureFresh = ShowMeasurements();
        } else {
            // A read cut short by a disconnect (or a lost port) is not had:
            // the next connect begins with it.
            const quint32 connection = connectionSerial;
            if (!readToggle) {
                const bool good = ShowStatus() == LinkResult::GoodReply;
                if (connection == connectionSerial) {
                    readToggle = true;
                    statusFresh = good;
                }
            } else if (LineShared() && (setpointTurn = !setpointTurn)) {
                // Another program may have changed the set-points: every other
                // measurement tick reads them instead, and the boxes follow
                // (through the supply's state) unless the operator edits them.
                SetpointRecord setpoints;
                link->GetSetpoints(slaveAddress, setpoints);
                if (connection == connectionSerial)
                    readToggle = false;
            } else {
                const bool good = ShowMeasurements();
                if (connection == connectionSerial) {
                    readToggle = false;
                    measureFresh = good;
                }
            }
        }
        break;
    case PollState::ApplySetpoints:
    case PollState::SwitchOutput: {
        const LinkResult result =
            pollState == PollState::ApplySetpoints ? SendSetpoints() : SendOutputSwitch();
        if (result == LinkResult::GoodReply) {
            completed();
        } else if (retryCount >= WriteTries - 1) {
            ShowWriteFailure(result);
            completed();
        } else if (requestSerial == request) {
            ++retryCount;
        }
        break;
    }
    case PollState::CalibrationRead:
        LoadCalibration();
        completed();
        break;
    case PollState::CalibrationWrite:
        StoreCalibration();
        completed();
        break;
    case PollState::UserParamsRead:
        LoadUserParams();
        completed();
        break;
    case PollState::UserParamsWrite:
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
    // The panel's controls are disabled during a run (this window's or
    // another program's); a key must not get round them either.
    if (!PanelHeldBy().isEmpty())
        return;
    // A box still holding a number it does not take says so, and nothing
    // is sent: neither that number nor the one the box held before.
    for (SetpointSpinBox *box : {form->doubleSpinBoxV, form->doubleSpinBoxA}) {
        if (!box->hasAcceptableInput()) {
            box->ShowRange();
            return;
        }
    }
    // A box the operator left alone takes what the supply holds now: a value
    // another program wrote while the box had the focus is not undone.
    const SupplyState state = supplyStates->At(slaveAddress);
    if (state.setpoints.value) {
        if (!BoxEdited(form->doubleSpinBoxV, shownMillivolts))
            form->doubleSpinBoxV->setValue(SetpointVolts(*state.setpoints.value));
        if (!BoxEdited(form->doubleSpinBoxA, shownMilliamperes))
            form->doubleSpinBoxA->setValue(SetpointAmperes(*state.setpoints.value));
    }
    RequestOperation(PollState::ApplySetpoints);
    retryCount = 0;
}

void MainWindow::OnOff()
{
    if (!PanelHeldBy().isEmpty())
        return;
    RequestOperation(PollState::SwitchOutput);
    retryCount = 0;
    switchOffOnly = false;
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
    RequestOperation(PollState::SwitchOutput);
    retryCount = 0;
    switchOffOnly = true;
}

void MainWindow::ReadParam()
{
    RequestOperation(PollState::CalibrationRead);
}

void MainWindow::WriteParam()
{
    RequestOperation(PollState::CalibrationWrite);
}

void MainWindow::ReadUserParam()
{
    RequestOperation(PollState::UserParamsRead);
}

void MainWindow::WriteUserParam()
{
    RequestOperation(PollState::UserParamsWrite);
}

LinkResult MainWindow::ShowStatus()
{
    return ShowStatusReading(link->GetStatus(slaveAddress, status));
}

LinkResult MainWindow::ShowStatusReading(LinkResult result)
{
    if (result != LinkResult::GoodReply) {
        chart->AddReadFailure();
        // One lost reply happens on a noisy line; two in a row mean the supply
        // has stopped answering and what the displays show is old.
        if (++statusFailures >= StaleAfterFailures)
            ShowReadingsStale();
        ShowSilence(false);
        return result;
    }
    ShowSilence(true);
    chart->AddStatus(status);
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

void MainWindow::ShowReadingsStale()
{
    // Dimmed digits and dark lamps: the last values stay readable but no
    // longer look live. The next good status lights them again.
    form->lcdNumberV->setEnabled(false);
    form->lcdNumberA->setEnabled(false);
    form->label_cc->setPixmap(QPixmap(":/new/prefix1/rec/LED_OFF.png"));
    form->label_cv->setPixmap(QPixmap(":/new/prefix1/rec/LED_OFF.png"));
}

void MainWindow::ShowSilence(bool answered)
{
    if (answered || !connected) {
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

bool MainWindow::ShowMeasurements()
{
    if (link->GetMeasurements(slaveAddress, measurement) != LinkResult::GoodReply) {
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
    // Acknowledged, the values become the supply's state, which the boxes
    // and the chart show.
    return link->SetSetpoints(slaveAddress, millivolts, milliamperes);
}

LinkResult MainWindow::SendOutputSwitch()
{
    // The switch goes the other way from the output's state: right after
    // connecting no status has told it yet, so it is read first. Off needs
    // no reading.
    if (!switchOffOnly && !statusReadThisConnection) {
        const LinkResult result = ShowStatus();
        if (result != LinkResult::GoodReply)
            return result;
    }
    const int value = switchOffOnly || status.OutputOn ? CommandSet::OutputOffValue : CommandSet::OutputOnValue;
    const LinkResult result = link->SetOutput(slaveAddress, value);
    if (result == LinkResult::GoodReply)
        chart->AddSwitch(value == CommandSet::OutputOnValue);
    return result;
}

void MainWindow::ShowWriteFailure(LinkResult result)
{
    if (portLost || runPage->takeMessage(tr("Ошибка записи")))
        return;
    ShowError(tr("Ошибка записи") + QLatin1Char('\n') + FailureDetails(result));
}

void MainWindow::ShowReadFailure(LinkResult result)
{
    if (portLost || runPage->takeMessage(tr("Ошибка чтения")))
        return;
    ShowError(tr("Ошибка чтения") + QLatin1Char('\n') + FailureDetails(result));
}

QString MainWindow::FailureDetails(LinkResult result) const
{
    QString what;
    switch (result) {
    case LinkResult::NoReply:
        what = tr("нет ответа за %1 мс").arg(DeviceLink::TimeoutMs);
        break;
    case LinkResult::BadReply:
        what = tr("ответ не прошёл проверку");
        break;
    case LinkResult::GoodReply:
        // A page written and read back: the supply holds other values.
        what = tr("источник не принял значения");
        break;
    }
    return tr("%1, адрес %2: %3").arg(portBox->currentText()).arg(slaveAddress).arg(what);
}
