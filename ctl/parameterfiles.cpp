#include "parameterfiles.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

namespace {

template <typename Record, int Count>
QJsonObject ToJson(const ParameterField<Record> (&fields)[Count], const Record &record)
{
    QJsonObject json;
    for (const ParameterField<Record> &f : fields)
        json.insert(QLatin1String(f.name), int(record.*f.field));
    return json;
}

template <typename Record, int Count>
const ParameterField<Record> *FindField(const ParameterField<Record> (&fields)[Count], const QString &name)
{
    for (const ParameterField<Record> &f : fields) {
        if (name == QLatin1String(f.name))
            return &f;
    }
    return nullptr;
}

template <typename Record, int Count>
bool FromJson(const ParameterField<Record> (&fields)[Count], const QByteArray &text, Record *record,
              QString *error)
{
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at character %2").arg(parse.errorString()).arg(parse.offset);
        return false;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("not a JSON object of named fields");
        return false;
    }
    const QJsonObject json = document.object();
    for (auto it = json.begin(); it != json.end(); ++it) {
        if (!FindField(fields, it.key())) {
            *error = QStringLiteral("unknown field \"%1\"").arg(it.key());
            return false;
        }
    }
    Record read = *record;
    for (const ParameterField<Record> &f : fields) {
        const QJsonValue value = json.value(QLatin1String(f.name));
        if (value.isUndefined()) {
            if (!f.writable)
                continue;
            *error = QStringLiteral("missing field \"%1\"").arg(QLatin1String(f.name));
            return false;
        }
        const double number = value.toDouble(std::nan(""));
        if (!value.isDouble() || number != std::floor(number) || number < f.wireMin || number > f.wireMax) {
            *error = QStringLiteral("\"%1\" wants a whole number from %2 to %3")
                         .arg(QLatin1String(f.name))
                         .arg(f.wireMin)
                         .arg(f.wireMax);
            return false;
        }
        read.*f.field = int32_t(number);
    }
    *record = read;
    return true;
}

bool ReadWhole(const QString &path, QByteArray *text, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

}  // namespace

QJsonObject CalibrationToJson(const CalibrationRecord &calibration)
{
    return ToJson(CalibrationFields, calibration);
}

QJsonObject UserParamsToJson(const UserParamRecord &params)
{
    return ToJson(UserParamFields, params);
}

bool CalibrationFromJson(const QByteArray &text, CalibrationRecord *calibration, QString *error)
{
    return FromJson(CalibrationFields, text, calibration, error);
}

bool UserParamsFromJson(const QByteArray &text, UserParamRecord *params, QString *error)
{
    return FromJson(UserParamFields, text, params, error);
}

bool CalibrationFromFile(const QString &path, CalibrationRecord *calibration, QString *error)
{
    QByteArray text;
    if (!ReadWhole(path, &text, error))
        return false;
    if (CalibrationFromJson(text, calibration, error))
        return true;
    *error = path + QStringLiteral(": ") + *error;
    return false;
}

bool UserParamsFromFile(const QString &path, UserParamRecord *params, QString *error)
{
    QByteArray text;
    if (!ReadWhole(path, &text, error))
        return false;
    if (UserParamsFromJson(text, params, error))
        return true;
    *error = path + QStringLiteral(": ") + *error;
    return false;
}
