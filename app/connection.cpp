#include "mainwindow.h"

#include "devicelink.h"
#include "dialogsettingslog.h"
#include "lineview.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "noticeboxes.h"
#include "supplyport.h"
#include "runpage.h"
#include "sharedline.h"
#include "supplystate.h"
#include "units.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>

void MainWindow::OpenPort()
{
    // The lock is taken on the device itself, whichever of its names is
    // chosen; a port that another of the user's programs serves is attached to.
    PortFailure failure;
    TellLine();
    if (!line->Open(portBox->currentText(), false, &failure)) {
        // Which port and why: no such port, no permission and a port held
        // by another program all differ.
        ShowError(tr("Не удается открыть порт") + QLatin1Char('\n') + portBox->currentText()
                  + QStringLiteral(": ") + PortFailureWords(failure));
        return;
    }

    const quint32 connection = BeginConnection();
    slaveAddress = quint8(slaveBox->value());
    StorePortChoice();

    // A disconnect while a set-point read waits ends this connect: no timer is
    // left running on a closed port.
    LoadSetpoints();
    if (connection != connectionSerial)
        return;
    LoadSetpoints();
    if (connection != connectionSerial)
        return;

    // Both reads failing leaves the boxes without the supply's values; the
    // poll retries a second from now.
    setpointRetryClock.start();
    RequestOperation(PollState::UserParamsRead);
    ResumePolling();
}

QString MainWindow::PortFailureWords(const PortFailure &failure)
{
    switch (failure.kind) {
    case PortFailure::Kind::None:
        break;
    case PortFailure::Kind::NoName:
        return tr("порт не выбран");
    case PortFailure::Kind::Busy:
        if (failure.pid > 0)
            return tr("порт занят: его держит %1 (pid %2)")
                .arg(failure.holder.isEmpty() ? tr("другая программа") : failure.holder)
                .arg(failure.pid);
        return tr("порт занят другой программой");
    case PortFailure::Kind::System:
        switch (failure.error) {
        case QSerialPort::DeviceNotFoundError:
            return tr("нет такого порта");
        case QSerialPort::PermissionError:
            return tr("нет прав на порт");
        case QSerialPort::OpenError:
            return tr("порт уже открыт");
        case QSerialPort::UnsupportedOperationError:
            return tr("порт не принимает настройки линии");
        default:
            // Rare: the system's own words are all there is.
            return tr("ошибка порта: %1").arg(failure.systemText);
        }
    }
    return {};
}

quint32 MainWindow::BeginConnection()
{
    // Nothing read on an earlier connection holds for this one: the supply
    // may have been switched or power-cycled meanwhile.
    portLost = false;
    ForgetSupply();
    SetConnectedLook(true);
    measureFailures = 0;
    ShowSilence(true);
    return connectionSerial;
}

void MainWindow::ForgetSupply()
{
    ++connectionSerial;
    supplyStates->Clear();
    statusFailures = 0;
    statusReadThisConnection = false;
    SetWriteButtonsEnabled(false);
    SetSetpointsKnown(false);
    chart->Connected();
}

void MainWindow::ResumePolling()
{
    // The end of a connect and of a run's quiet reopen alike: ClosePort undoes
    // each of these.
    pollTimer->start();
    runPage->portRestored();
    form->pushButtonReadCalibr->setEnabled(true);
}

void MainWindow::ClosePort()
{
    ++connectionSerial;
    // A line this window serves passes to the programs attached to it.
    line->Close();
    SetConnectedLook(false);
    ShowSilence(true);
    pollTimer->stop();
    runPage->portClosed();
    form->pushButtonReadCalibr->setEnabled(false);
    SetWriteButtonsEnabled(false);
}

void MainWindow::SetWriteButtonsEnabled(bool enabled)
{
    // A page is written only after it was read in this connection: a write
    // before would send the form's initial values over the supply's own.
    form->pushButtonApplyCalibr->setEnabled(enabled);
    form->pushButtonApplyUserParam->setEnabled(enabled);
}

void MainWindow::SetConnectedLook(bool isConnected)
{
    connected = isConnected;
    lineView->SetConnected(connected);
    HoldPanel();
    connectAction->setEnabled(!connected);
    disconnectAction->setEnabled(connected);
    outputOffAction->setEnabled(connected);
    portBox->setEnabled(!connected);
    form->tab->setEnabled(connected);
    runPage->setConnected(connected);
}

bool MainWindow::LoadSetpoints()
{
    SetpointRecord setpoints;
    if (link->GetSetpoints(slaveAddress, setpoints) != LinkResult::GoodReply)
        return false;
    ShowSetpoints(setpoints);
    return true;
}

void MainWindow::ShowSetpoints(const SetpointRecord &setpoints)
{
    form->doubleSpinBoxV->setValue(SetpointVolts(setpoints));
    form->doubleSpinBoxA->setValue(SetpointAmperes(setpoints));
    NoteSetpointsShown();
    chart->SetSetpoints(SetpointVolts(setpoints), SetpointAmperes(setpoints));
    SetSetpointsKnown(true);
}

void MainWindow::SetSetpointsKnown(bool known)
{
    // Until the supply's set-points are read, the boxes hold values nobody
    // chose from this supply: dimmed, and not to be applied.
    setpointsKnown = known;
    // A run holds the boxes until it ends.
    const bool free = known && PanelHeldBy().isEmpty();
    form->doubleSpinBoxV->setEnabled(free);
    form->doubleSpinBoxA->setEnabled(free);
    form->pushButtonApply->setEnabled(free);
    if (!known) {
        shownMillivolts = shownMilliamperes = -1;
        chart->ForgetSetpoints();
    }
}

void MainWindow::ApplyFromKeyboard()
{
    if (form->pushButtonApply->isEnabled())
        ApplyParam();
}

void MainWindow::SupplyChanged()
{
    // Another supply answers from now on: the boxes, the pages and the last
    // status are the previous one's, and so is a write still waiting.
    if (pollState == PollState::ApplySetpoints || pollState == PollState::CalibrationWrite
        || pollState == PollState::UserParamsWrite)
        RequestOperation(PollState::Monitor);
    ForgetSupply();
    setpointRetryClock.invalidate();  // read them at the next monitor tick
    StorePortChoice();
}

void MainWindow::LoadPortChoice()
{
    // A remembered port that is not listed now is still offered: connecting
    // tries it, and says why when it is not there.
    QSettings *settings = settingsDialog->Settings();
    const QString name = settings->value(QStringLiteral("PortName")).toString();
    if (!name.isEmpty()) {
        const int index = portBox->findText(name);
        if (index >= 0)
            portBox->setCurrentIndex(index);
        else
            portBox->setEditText(name);
    }
    bool ok = false;
    const int address = settings->value(QStringLiteral("SlaveAddress")).toInt(&ok);
    if (ok && address >= slaveBox->minimum() && address <= slaveBox->maximum())
        slaveBox->setValue(address);
}

void MainWindow::StorePortChoice()
{
    QSettings *settings = settingsDialog->Settings();
    settings->setValue(QStringLiteral("PortName"), portBox->currentText());
    settings->setValue(QStringLiteral("SlaveAddress"), slaveBox->value());
}

void MainWindow::PortLostOccurred()
{
    // The watch has closed the port already; the message waits until the
    // port's signal has returned.
    portLost = true;
    ClosePort();
    QTimer::singleShot(0, this, &MainWindow::ShowPortLost);
}

void MainWindow::ShowPortLost()
{
    if (runPage->takeMessage(tr("Потеряна связь с портом, переподключение")))
        return;
    ShowError(tr("Потеряна связь с портом"));
}

void MainWindow::ShowError(const QString &text)
{
    notices->Show(QMessageBox::Critical, tr("Error"), text);
}

void MainWindow::About()
{
    QMessageBox::about(
        this, tr("О программе"),
        tr("<h3>Velkaro 1.1</h3>"
           "<p>Панель управления лабораторным источником питания:\n"
           "установка напряжения и тока, включение выхода, контроль режимов CV и CC,\n"
           "внутренние измерения, калибровка, параметры пользователя и запись лога.</p>"
           "<p>Связь с источником по последовательному порту, 9600 бод.</p>"
           "<p>&copy; norvel. Все права защищены.</p>"));
}
