#include "windowview.h"

#include "mainwindow.h"

#include <QLCDNumber>
#include <QPushButton>
#include <QTextEdit>

namespace {

template <typename T>
QList<T *> children(MainWindow *window, const QStringList &names)
{
    QList<T *> found;
    for (const QString &name : names) {
        T *child = window->findChild<T *>(name);
        Q_ASSERT(child);
        found.append(child);
    }
    return found;
}

QString number(double value)
{
    return QString::number(value, 'g', 17);
}

QString onOffText(int outputOn)
{
    return outputOn ? QStringLiteral("Выключить") : QStringLiteral("Включить");
}

}  // namespace

WindowView::WindowView(MainWindow *window)
    : lcdVoltage(window->findChild<QLCDNumber *>(QStringLiteral("lcdNumberV"))),
      lcdCurrent(window->findChild<QLCDNumber *>(QStringLiteral("lcdNumberA"))),
      onOff(window->findChild<QPushButton *>(QStringLiteral("pushButtonOnOff"))),
      log(window->findChild<QTextEdit *>(QStringLiteral("textEditLog"))),
      spareDouble(std::make_unique<QDoubleSpinBox>()),
      spareInt(std::make_unique<QSpinBox>())
{
    // In the order the records list their fields.
    measurementBoxes = children<QDoubleSpinBox>(
        window, {"doubleSpinBoxVsdadc", "doubleSpinBoxCsdadc", "doubleSpinBoxTemp",
                 "doubleSpinBoxVin", "doubleSpinBoxVpwm", "doubleSpinBoxVref"});
    setpointBoxes = children<QDoubleSpinBox>(window, {"doubleSpinBoxV", "doubleSpinBoxA"});
    calibrationBoxList = children<QSpinBox>(
        window, {"spinBoxKuDacVolt", "spinBoxKuAdcVolt", "spinBoxKuDacCurr", "spinBoxKuAdcCurr",
                 "spinBoxKuAdcCurrFune", "spinBoxOffDacVolt", "spinBoxOffAdcVolt",
                 "spinBoxOffDacCurr", "spinBoxOffAdcCurr", "spinBoxOffAdcCurrFine",
                 "spinBoxRout"});
    userParamBoxList = children<QSpinBox>(
        window, {"spinBoxNVPstatus", "spinBoxLifeCounter", "spinBoxCurrTrigStat",
                 "spinBoxCurrTrigTime", "spinBoxVoltmetrStatus", "spinBoxVoltmetrTime",
                 "spinBoxAdjStatus", "spinBoxCurrAdgStatus", "spinBoxCurrentTrigger"});
    Q_ASSERT(lcdVoltage && lcdCurrent && onOff && log);
}

WindowView::~WindowView() = default;

template <typename Box>
QString WindowView::join(const QList<Box *> &boxes)
{
    QStringList parts;
    for (Box *box : boxes)
        parts.append(number(box->value()));
    return parts.join(QLatin1Char('|'));
}

QString WindowView::through(const QList<QDoubleSpinBox *> &boxes, const QList<double> &values) const
{
    QStringList parts;
    for (int i = 0; i < boxes.size(); ++i) {
        spareDouble->setDecimals(boxes.at(i)->decimals());
        spareDouble->setRange(boxes.at(i)->minimum(), boxes.at(i)->maximum());
        spareDouble->setValue(values.at(i));
        parts.append(number(spareDouble->value()));
    }
    return parts.join(QLatin1Char('|'));
}

QString WindowView::through(const QList<QSpinBox *> &boxes, const QList<int> &values) const
{
    QStringList parts;
    for (int i = 0; i < boxes.size(); ++i) {
        spareInt->setRange(boxes.at(i)->minimum(), boxes.at(i)->maximum());
        spareInt->setValue(values.at(i));
        parts.append(number(spareInt->value()));
    }
    return parts.join(QLatin1Char('|'));
}

QString WindowView::status() const
{
    return number(lcdVoltage->value()) + QLatin1Char('|') + number(lcdCurrent->value())
           + QLatin1Char('|') + onOff->text();
}

QString WindowView::measurements() const { return join(measurementBoxes); }
QString WindowView::setpoints() const { return join(setpointBoxes); }
QString WindowView::calibration() const { return join(calibrationBoxList); }
QString WindowView::userParams() const { return join(userParamBoxList); }

QStringList WindowView::logValues() const
{
    QStringList values;
    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        // A stamp, when there is one, comes first; the values are the last two fields.
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QString value = fields.mid(qMax(0, fields.size() - 2)).join(QLatin1Char(' '));
        values.append(value.replace(QLatin1Char(','), QLatin1Char('.')));
    }
    return values;
}

QString WindowView::status(const StatusRecord &record) const
{
    // The displays show the window's four-digit text; read back as a number.
    // In the fine range the current counts 0.1 mA and shows rounded to 1 mA.
    const int milliamperes = record.CurrentFine ? (record.Current + 5) / 10 : record.Current;
    return number(MainWindow::FormatDigits(record.Voltage, 1).toDouble()) + QLatin1Char('|')
           + number(MainWindow::FormatDigits(milliamperes, 0).toDouble()) + QLatin1Char('|')
           + onOffText(record.OutputOn);
}

QString WindowView::measurements(const MeasurementRecord &r) const
{
    return through(measurementBoxes, {r.Vsdadc / 1000.0, r.Csdadc / 1000.0, r.Temp / 10.0,
                                      r.Vin / 1000.0, r.Vpwm / 1000.0, r.Vref / 1000.0});
}

QString WindowView::setpoints(const SetpointRecord &r) const
{
    return through(setpointBoxes, {r.VoltageSet / 1000.0, r.CurrentSet / 1000.0});
}

QString WindowView::calibration(const CalibrationRecord &r) const
{
    return through(calibrationBoxList,
                   {r.KuDacVolt, r.KuAdcVolt, r.KuDacCurr, r.KuAdcCurr, r.KuAdcCurrFine,
                    r.OffDacVolt, r.OffAdcVolt, r.OffDacCurr, r.OffAdcCurr, r.OffAdcCurrFine,
                    r.Rout});
}

QString WindowView::userParams(const UserParamRecord &r) const
{
    return through(userParamBoxList,
                   {r.NVPstatus, r.LifeCounter, r.CurrTrigStat, r.CurrTrigTime, r.VoltmetrStatus,
                    r.VoltmetrTime, r.AdjStatus, r.CurrAdgStatus, r.CurrentTrigger});
}
