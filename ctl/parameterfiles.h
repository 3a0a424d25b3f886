#pragma once

#include "parameterfields.h"
#include "records.h"

#include <QJsonObject>
#include <QString>

// The calibration and user-parameter files: one JSON object with one member
// per field, named as the record names it. A file is taken only when it is
// complete (every writable field), names no other member, and holds whole
// numbers within each field's wire range; a field the supply keeps itself
// may be there (a read writes it) but is not needed.

QJsonObject CalibrationToJson(const CalibrationRecord &calibration);
QJsonObject UserParamsToJson(const UserParamRecord &params);

// False, with the reason in error, for a file that is not as above.
bool CalibrationFromFile(const QString &path, CalibrationRecord *calibration, QString *error);
bool UserParamsFromFile(const QString &path, UserParamRecord *params, QString *error);
