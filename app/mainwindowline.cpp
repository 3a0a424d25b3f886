// The window on a line shared with the user's other programs: who it is to
// them, whether it holds the port, and what a handover of the line does.

#include "mainwindow.h"

#include "connection.h"
#include "lineview.h"
#include "runpage.h"
#include "sharedline.h"

#include <QLabel>
#include <QSpinBox>

void MainWindow::TellLine()
{
    LineMember me = connection->Line().Member();
    me.program = QStringLiteral("velkaro");
    me.addresses = {slaveBox->value()};
    // "run" tells the others that their panels leave this address alone.
    me.doing = runPage && runPage->isActive() ? QStringLiteral("run") : QStringLiteral("window");
    connection->Line().SetMember(me);
}

void MainWindow::ShowLineRole()
{
    QString text;
    QString tip;
    const QList<LineMember> members = connection->Line().Members();
    switch (connection->Line().CurrentRole()) {
    case SharedLine::Role::Closed:
        break;
    case SharedLine::Role::Owner:
        text = members.size() > 1 ? tr("Порт свой, +%1").arg(members.size() - 1) : tr("Порт свой");
        tip = tr("Окно держит порт; другие программы работают через него");
        break;
    case SharedLine::Role::Attached: {
        const LineMember owner = members.value(0);
        if (owner.owner) {
            text = tr("Через %1 %2").arg(owner.program).arg(owner.pid);
            tip = tr("Порт держит %1 (pid %2); окно работает через неё").arg(owner.program).arg(owner.pid);
        } else {
            text = tr("Через другую программу");
        }
        break;
    }
    case SharedLine::Role::HandingOver:
        text = tr("Порт передаётся");
        tip = tr("Программа, державшая порт, закрылась; окно берёт порт себе или подключается к новому владельцу");
        break;
    }
    lineLabel->setText(text);
    lineLabel->setToolTip(tip);
}

void MainWindow::LineMembersChanged()
{
    HoldPanel();
    lineView->ShowMembers(connection->Line().Members());
}

void MainWindow::LineHandingOver()
{
    // The poll goes on: its reads fail until the line is back, and the
    // displays dim as for a silent supply.
    ShowLineRole();
}

void MainWindow::LineTakenOver()
{
    // Without a run nobody records the gap: it is over.
    if (!runPage->isActive())
        connection->Line().Reopen();
    LineMembersChanged();
}

void MainWindow::ChooseAddress(int address)
{
    // The window's own run keeps its address.
    if (slaveBox->isEnabled())
        slaveBox->setValue(address);
}
