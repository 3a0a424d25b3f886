#include "mainwindow.h"

#include "devicelink.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "supplyport.h"
#include "units.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

void MainWindow::OpenPort()
{
    // The lock is taken on the device itself, whichever of its names is chosen.
    QString reason;
    if (!OpenSupplyPort(*port, portBox->currentText(), &reason)) {
        QMessageBox::critical(this, tr("Error"), tr("Не удается открыть порт"));
        return;
    }

    const quint32 connection = ++connectionSerial;
    portLost = false;
    statusFailures = 0;
    statusReadThisConnection = false;
    SetWriteButtonsEnabled(false);
    SetConnectedLook(true);
    chart->Connected();
    slaveAddress = quint8(slaveBox->value());

    // A disconnect while a set-point read waits ends this connect: no timer is
    // left running on a closed port.
    LoadSetpoints();
    if (connection != connectionSerial)
        return;
    LoadSetpoints();
    if (connection != connectionSerial)
        return;

    RequestOperation(UserParamsRead);
    pollTimer->start();
    form->pushButtonReadCalibr->setEnabled(true);
}

void MainWindow::ClosePort()
{
    ++connectionSerial;
    if (port->isOpen())
        port->close();
    SetConnectedLook(false);
    pollTimer->stop();
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

void MainWindow::SetConnectedLook(bool connected)
{
    connectAction->setEnabled(!connected);
    disconnectAction->setEnabled(connected);
    portBox->setEnabled(!connected);
    form->tab->setEnabled(connected);
}

void MainWindow::LoadSetpoints()
{
    SetpointRecord setpoints;
    if (link->GetSetpoints(slaveAddress, setpoints) != GoodReply)
        return;
    form->doubleSpinBoxV->setValue(SetpointVolts(setpoints));
    form->doubleSpinBoxA->setValue(SetpointAmperes(setpoints));
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
    QMessageBox::critical(this, tr("Error"), tr("Потеряна связь с портом"));
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
