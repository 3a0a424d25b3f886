// What the window tells the operator of a failed exchange or a lost port.

#include "mainwindow.h"

#include "connection.h"
#include "devicelink.h"
#include "noticeboxes.h"
#include "runpage.h"

#include <QComboBox>
#include <QMessageBox>

void MainWindow::ShowWriteFailure(LinkResult result)
{
    if (connection->PortLost() || runPage->takeMessage(tr("Ошибка записи")))
        return;
    ShowError(tr("Ошибка записи") + QLatin1Char('\n') + FailureDetails(result));
}

void MainWindow::ShowReadFailure(LinkResult result)
{
    if (connection->PortLost() || runPage->takeMessage(tr("Ошибка чтения")))
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
    return tr("%1, адрес %2: %3").arg(portBox->currentText()).arg(connection->Address()).arg(what);
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
