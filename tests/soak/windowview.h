#pragma once

#include "records.h"

#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class MainWindow;
class QLCDNumber;
class QPushButton;
class QTextEdit;

// What a window shows, page by page, as one comparable text per page; and
// the text the same page would show for a record, worked out through spare
// boxes with the window's own ranges and decimals, so that clamping and
// rounding are the window's.
class WindowView
{
public:
    explicit WindowView(MainWindow *window);
    ~WindowView();

    QString status() const;        // both displays and the output button
    QString measurements() const;  // the six measurement boxes
    QString setpoints() const;     // the voltage and current set boxes
    QString calibration() const;   // the eleven calibration boxes
    QString userParams() const;    // the nine user parameter boxes
    // The "volts amperes" part of every log line, with points.
    QStringList logValues() const;

    QString status(const StatusRecord &record) const;
    QString measurements(const MeasurementRecord &record) const;
    QString setpoints(const SetpointRecord &record) const;
    QString calibration(const CalibrationRecord &record) const;
    QString userParams(const UserParamRecord &record) const;

    QList<QSpinBox *> calibrationBoxes() const { return calibrationBoxList; }
    QList<QSpinBox *> userParamBoxes() const { return userParamBoxList; }
    QDoubleSpinBox *voltageSet() const { return setpointBoxes.at(0); }
    QDoubleSpinBox *currentSet() const { return setpointBoxes.at(1); }

private:
    template <typename Box>
    static QString join(const QList<Box *> &boxes);
    QString through(const QList<QDoubleSpinBox *> &boxes, const QList<double> &values) const;
    QString through(const QList<QSpinBox *> &boxes, const QList<int> &values) const;

    QLCDNumber *lcdVoltage;
    QLCDNumber *lcdCurrent;
    QPushButton *onOff;
    QTextEdit *log;
    QList<QDoubleSpinBox *> measurementBoxes;
    QList<QDoubleSpinBox *> setpointBoxes;
    QList<QSpinBox *> calibrationBoxList;
    QList<QSpinBox *> userParamBoxList;
    // Scratch boxes that take a value the way a page box would.
    std::unique_ptr<QDoubleSpinBox> spareDouble;
    std::unique_ptr<QSpinBox> spareInt;
};
