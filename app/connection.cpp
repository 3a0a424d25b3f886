#include "mainwindow.h"

#include "devicelink.h"
#include "livechart.h"
#include "mainwindowform.h"
#include "runpage.h"
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
    port->setPortName(portBox->currentText());
    if (!port->open(QIODevice::ReadWrite)) {
        port->close();
        QMessageBox::critical(this, tr("Error"), QStringLiteral("Не удается открыть порт"));
        return;
    }
    port->setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);

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
    runPage->portRestored();
    form->pushButtonReadCalibr->setEnabled(true);
}

void MainWindow::ClosePort()
{
    ++connectionSerial;
    if (port->isOpen())
        port->close();
    SetConnectedLook(false);
    pollTimer->stop();
    runPage->portClosed(portLost);
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
    runPage->setConnected(connected);
}

void MainWindow::LoadSetpoints()
{
    SetpointRecord setpoints;
    if (link->GetSetpoints(slaveAddress, setpoints) != GoodReply)
        return;
    form->doubleSpinBoxV->setValue(SetpointVolts(setpoints));
    form->doubleSpinBoxA->setValue(SetpointAmperes(setpoints));
}

void MainWindow::PortErrorOccurred(QSerialPort::SerialPortError error)
{
    const bool deviceGone = error == QSerialPort::ResourceError
                            || error == QSerialPort::ReadError
                            || error == QSerialPort::WriteError;
    if (!deviceGone || !port->isOpen())
        return;
    // Closing at once also stops the port from repeating the error without
    // end; the message waits until the port's signal has returned.
    portLost = true;
    ClosePort();
    QTimer::singleShot(0, this, &MainWindow::ShowPortLost);
}

void MainWindow::ShowPortLost()
{
    if (runPage->takeMessage(QStringLiteral("Потеряна связь с портом, переподключение")))
        return;
    QMessageBox::critical(this, tr("Error"), QStringLiteral("Потеряна связь с портом"));
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
