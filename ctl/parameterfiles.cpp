#include "parameterfiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
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

// The first member name that the top-level object of a well-formed JSON text
// holds twice, or empty. QJsonDocument keeps only the last of them, which
// would send a value the file also contradicts.
QString DuplicateMember(const QByteArray &text)
{
    QSet<QString> names;
    int depth = 0;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == '"') {
            int end = i + 1;
            while (end < text.size() && text.at(end) != '"')
                end += text.at(end) == '\\' ? 2 : 1;
            const QByteArray quoted = text.mid(i, end - i + 1);
            i = end;
            int next = end + 1;
            while (next < text.size() && QChar::isSpace(uchar(text.at(next))))
                ++next;
            if (depth != 1 || next >= text.size() || text.at(next) != ':')
                continue;
            // The name as JSON reads it, escapes and all.
            const QString name = QJsonDocument::fromJson("[" + quoted + "]").array().at(0).toString();
            if (names.contains(name))
                return name;
            names.insert(name);
        }
    }
    return {};
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
    const QString duplicate = DuplicateMember(text);
    if (!duplicate.isEmpty()) {
        *error = QStringLiteral("field \"%1\" is given twice").arg(duplicate);
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

template <typename Record, int Count>
bool FromFile(const ParameterField<Record> (&fields)[Count], const QString &path, Record *record,
              QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (FromJson(fields, text, record, error))
        return true;
    *error = path + QStringLiteral(": ") + *error;
    return false;
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

bool CalibrationFromFile(const QString &path, CalibrationRecord *calibration, QString *error)
{
    return FromFile(CalibrationFields, path, calibration, error);
}

bool UserParamsFromFile(const QString &path, UserParamRecord *params, QString *error)
{
    return FromFile(UserParamFields, path, params, error);
}
