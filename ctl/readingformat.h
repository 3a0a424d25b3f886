#pragma once

#include "commandcontext.h"
#include "records.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Readings as velkaroctl prints them: volts and amperes through the link's
// unit conversion, always with a decimal point, to the resolution the supply
// reports (the current to 0.1 mA in its fine range).

QString DecimalText(double volts, int decimals);
QString StatusAmperesText(const StatusRecord &status);
// "CV", "CC", or "-" when the supply reports neither.
QString ModeText(const StatusRecord &status);

OutputRows StatusRows(const StatusRecord &status);
QJsonObject StatusJson(const StatusRecord &status);
// Voltage, current, mode, output: the values of StatusRows in that order.
QStringList StatusFields(const StatusRecord &status);

OutputRows MeasurementRows(const MeasurementRecord &measurement);
QJsonObject MeasurementJson(const MeasurementRecord &measurement);
// Voltage, current, temperature, input, PWM, reference.
QStringList MeasurementFields(const MeasurementRecord &measurement);

OutputRows SetpointRows(const SetpointRecord &setpoints);
QJsonObject SetpointJson(const SetpointRecord &setpoints);
