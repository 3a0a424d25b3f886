// The window's connect and disconnect: what the operator asks of the port,
// and what the window shows of it.

#include "mainwindow.h"

#include "connection.h"
#include "dialogsettingslog.h"
#include "lineview.h"
#include "mainwindowform.h"
#include "parameterpages.h"
#include "pollcycle.h"
#include "portchoice.h"
#include "portfailurewords.h"
#include "runpage.h"
#include "supplyport.h"
#include "supplyreadings.h"

#include <QAction>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>


void MainWindow::OpenPort()
{
    PortFailure failure;
    TellLine();
    if (!connection->Open(portBox->currentText(), &failure)) {
        // Which port and why: no such port, no permission and a port held
        // by another program all differ.
        ShowError(tr("Не удается открыть порт") + QLatin1Char('\n') + portBox->currentText()
                  + QStringLiteral(": ") + PortFailureWords::Of(failure));
        return;
    }

    BeginConnection();
    connection->SetAddress(quint8(slaveBox->value()));
    StorePortChoice();
    if (poll->BeginConnection())
        ResumePolling();
}

void MainWindow::BeginConnection()
{
    SetConnectedLook(true);
    readings->BeginConnection();
}

void MainWindow::ResumePolling()
{
    // The end of a connect and of a run's quiet reopen alike: ClosePort undoes
    // each of these.
    poll->Start();
    runPage->portRestored();
    form->pushButtonReadCalibr->setEnabled(true);
}

void MainWindow::ClosePort()
{
    connection->Close();
    SetConnectedLook(false);
    readings->ShowSilence(true);
    poll->Stop();
    runPage->portClosed();
    form->pushButtonReadCalibr->setEnabled(false);
    pages->EnableWrites(false);
}

void MainWindow::SetConnectedLook(bool connected)
{
    lineView->SetConnected(connected);
    HoldPanel();
    connectAction->setEnabled(!connected);
    disconnectAction->setEnabled(connected);
    outputOffAction->setEnabled(connected);
    portBox->setEnabled(!connected);
    form->tab->setEnabled(connected);
    runPage->setConnected(connected);
}

void MainWindow::StorePortChoice()
{
    ::StorePortChoice(settingsDialog->Settings(), portBox, slaveBox);
}

void MainWindow::PortLostOccurred()
{
    // The watch has closed the port already; the message waits until the
    // port's signal has returned.
    ClosePort();
    QTimer::singleShot(0, this, &MainWindow::ShowPortLost);
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
