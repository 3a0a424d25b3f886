#include "lineview.h"

#include "addressprobe.h"
#include "devicelink.h"
#include "devicelinktransport.h"
#include "units.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

LineView::LineView(QWidget *parent)
    : QWidget(parent)
{
    fromBox = new QSpinBox;
    toBox = new QSpinBox;
    for (QSpinBox *box : {fromBox, toBox})
        box->setRange(0, 255);
    fromBox->setObjectName(QStringLiteral("lineScanFrom"));
    toBox->setObjectName(QStringLiteral("lineScanTo"));
    toBox->setValue(255);
    scanButton = new QPushButton;
    scanButton->setObjectName(QStringLiteral("lineScanButton"));
    scanLabel = new QLabel;
    scanLabel->setObjectName(QStringLiteral("lineScanLabel"));
    table = new QTableWidget(0, Columns);
    table->setObjectName(QStringLiteral("lineTable"));
    table->setHorizontalHeaderLabels({tr("Адрес"), tr("U, В"), tr("I, А"), tr("Режим"), tr("Выход"), tr("Кто")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    // The readings as narrow as they are; the programs take the rest.
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setToolTip(tr("Выбранный источник откроется на панели"));

    auto *range = new QHBoxLayout;
    range->addWidget(new QLabel(tr("Адреса")));
    range->addWidget(fromBox);
    range->addWidget(new QLabel(QStringLiteral("–")));
    range->addWidget(toBox);
    range->addWidget(scanButton);
    range->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(range);
    layout->addWidget(scanLabel);
    layout->addWidget(table);

    connect(scanButton, &QPushButton::clicked, this, &LineView::ScanClicked);
    connect(table, &QTableWidget::cellClicked, this, &LineView::RowChosen);
    connect(table, &QTableWidget::cellActivated, this, &LineView::RowChosen);
    ShowScanState();
}

bool LineView::WantsRead() const
{
    return connected && (scanning || (isVisible() && table->rowCount() > 0));
}

void LineView::Step(DeviceLink &link)
{
    if (scanning) {
        const quint8 address = quint8(scanNext);
        DeviceLinkTransport line(link);
        if (const std::optional<ProbedSupply> found = ProbeAddress(line, address)) {
            int row = RowOf(address);
            if (row < 0)
                row = AddRow(address);
            ShowStatus(row, found->status);
            table->item(row, AddressColumn)->setToolTip(
                found->setpoints ? tr("Уставки: %1 В, %2 А")
                                       .arg(SetpointVolts(*found->setpoints), 0, 'f', 2)
                                       .arg(SetpointAmperes(*found->setpoints), 0, 'f', 3)
                                 : QString());
        }
        // A disconnect during the probe has ended the scan already.
        if (scanning && ++scanNext > scanLast)
            scanning = false;
        ShowScanState();
        return;
    }
    if (table->rowCount() == 0)
        return;
    readNext %= table->rowCount();
    const int row = readNext++;
    const quint8 address = quint8(table->item(row, AddressColumn)->data(Qt::UserRole).toInt());
    StatusRecord status;
    if (link.GetStatus(address, status) == LinkResult::GoodReply)
        ShowStatus(RowOf(address), status);
    else if (RowOf(address) >= 0)
        ShowStale(RowOf(address));
}

void LineView::ScanClicked()
{
    if (scanning) {
        scanning = false;
    } else {
        scanNext = std::min(fromBox->value(), toBox->value());
        scanLast = std::max(fromBox->value(), toBox->value());
        // What the line holds now, not what an earlier scan found.
        table->setRowCount(0);
        scanning = connected;
    }
    ShowScanState();
}

void LineView::ShowScanState()
{
    scanButton->setText(scanning ? tr("Стоп") : tr("Скан"));
    scanButton->setEnabled(connected);
    fromBox->setEnabled(!scanning);
    toBox->setEnabled(!scanning);
    if (scanning)
        scanLabel->setText(tr("Опрос адреса %1 (до %2), найдено: %3").arg(scanNext).arg(scanLast).arg(table->rowCount()));
    else if (!connected)
        scanLabel->setText(tr("Нет подключения"));
    else
        scanLabel->setText(tr("Найдено: %1").arg(table->rowCount()));
}

void LineView::SetConnected(bool isConnected)
{
    connected = isConnected;
    if (!connected) {
        scanning = false;
        for (int row = 0; row < table->rowCount(); ++row)
            ShowStale(row);
    }
    ShowScanState();
}

void LineView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    for (int row = 0; row < table->rowCount(); ++row)
        ShowStale(row);
}

void LineView::ShowMembers(const QList<LineMember> &lineMembers)
{
    members = lineMembers;
    for (int row = 0; row < table->rowCount(); ++row)
        ShowWho(row);
}

int LineView::RowOf(quint8 address) const
{
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, AddressColumn)->data(Qt::UserRole).toInt() == address)
            return row;
    }
    return -1;
}

int LineView::AddRow(quint8 address)
{
    const int row = table->rowCount();
    table->insertRow(row);
    for (int column = 0; column < Columns; ++column)
        table->setItem(row, column, new QTableWidgetItem);
    table->item(row, AddressColumn)->setText(QString::number(address));
    table->item(row, AddressColumn)->setData(Qt::UserRole, int(address));
    ShowWho(row);
    return row;
}

void LineView::ShowStatus(int row, const StatusRecord &status)
{
    table->item(row, VoltsColumn)->setText(QString::number(OutputVolts(status), 'f', 2));
    table->item(row, AmperesColumn)->setText(QString::number(OutputAmperes(status), 'f', OutputAmperesDecimals(status)));
    table->item(row, ModeColumn)->setText(QString::fromLatin1(ModeName(status)));
    table->item(row, OutputColumn)->setText(status.OutputOn != 0 ? tr("вкл") : tr("выкл"));
    for (int column = VoltsColumn; column <= OutputColumn; ++column)
        table->item(row, column)->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

void LineView::ShowStale(int row)
{
    // The last values stay readable, dimmed: they are not live.
    for (int column = VoltsColumn; column <= OutputColumn; ++column)
        table->item(row, column)->setFlags(Qt::ItemIsSelectable);
}

QString LineView::MemberWords(const LineMember &member)
{
    // The programs' own names stay, and so do file names; what they do is
    // said in the window's language. Another command of velkaroctl is named
    // as it is typed.
    const QString verb = member.doing.section(QLatin1Char(' '), 0, 0);
    const QString rest = member.doing.section(QLatin1Char(' '), 1);
    QString doing;
    if (verb == QLatin1String("window"))
        doing = tr("окно");
    else if (verb == QLatin1String("run"))
        doing = tr("прогон");
    else if (verb == QLatin1String("watch"))
        doing = tr("наблюдение");
    else if (verb == QLatin1String("scan"))
        doing = tr("поиск");
    else if (verb == QLatin1String("serve-scpi"))
        doing = tr("сервер SCPI");
    else if (!verb.isEmpty())
        doing = tr("команда %1").arg(verb);
    if (!rest.isEmpty())
        doing += QLatin1Char(' ') + rest;
    return tr("%1, %2 (pid %3)").arg(member.program, doing).arg(member.pid);
}

void LineView::ShowWho(int row)
{
    const int address = table->item(row, AddressColumn)->data(Qt::UserRole).toInt();
    QStringList who;
    for (const LineMember &member : members) {
        if (member.addresses.contains(address))
            who << MemberWords(member);
    }
    table->item(row, WhoColumn)->setText(who.join(QStringLiteral("; ")));
    table->item(row, WhoColumn)->setToolTip(who.join(QLatin1Char('\n')));
}

void LineView::RowChosen(int row)
{
    if (QTableWidgetItem *item = table->item(row, AddressColumn))
        emit addressChosen(item->data(Qt::UserRole).toInt());
}
