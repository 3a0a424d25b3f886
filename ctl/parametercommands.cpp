// calibration and params: a parameter block read from the supply (to the
// screen and, if named, a file) or written from a file and read back.

#include "commandcontext.h"
#include "commandtable.h"
#include "exitstatus.h"
#include "parameterfiles.h"
#include "writeguard.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

template <typename Record, int Count>
struct Block {
    const char *command;
    const char *description;
    const ParameterField<Record> (&fields)[Count];
    QJsonObject (*toJson)(const Record &);
    bool (*fromFile)(const QString &, Record *, QString *);
    SupplyOutcome (SupplySession::*read)(Record &);
    SupplyOutcome (SupplySession::*write)(const Record &);
};

template <typename Record, int Count>
int Read(CommandContext &context, const Block<Record, Count> &block, const QString &path)
{
    // Nothing to finish on a signal: a read ends at once.
    TerminationSignals::unblock();
    const QString what = QStringLiteral("%1 read").arg(QLatin1String(block.command));
    // Opened first, so that a file that cannot be written costs no traffic.
    QSaveFile file(path);
    if (!path.isEmpty() && !file.open(QIODevice::WriteOnly))
        return context.Fail(ExitStatus::Usage,
                            QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (const int status = context.Connect())
        return status;
    Record record;
    const SupplyOutcome outcome = (context.Session().*block.read)(record);
    if (outcome != SupplyOutcome::Done)
        return context.FailSupply(what, outcome);
    const QJsonObject json = block.toJson(record);
    if (!path.isEmpty()) {
        const QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Indented);
        const bool saved = file.write(text) == text.size() && file.flush();
        if (!saved)
            file.cancelWriting();
        if (!file.commit() || !saved)
            return context.Fail(ExitStatus::Usage,
                                QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }
    OutputRows rows;
    for (const ParameterField<Record> &f : block.fields)
        rows.append({QLatin1String(f.name), QString::number(record.*f.field)});
    return context.PrintResult(json, rows);
}

template <typename Record, int Count>
int Write(CommandContext &context, const Block<Record, Count> &block, const QString &path)
{
    Record record;
    QString error;
    if (!block.fromFile(path, &record, &error))
        return context.Fail(ExitStatus::Usage, error + QStringLiteral("; nothing was sent"));
    const QString what = QStringLiteral("%1 write").arg(QLatin1String(block.command));
    WriteGuard guard;
    context.SetWriteGuard(&guard, what);
    if (const int status = context.Connect())
        return status;
    if (const int signalNumber = guard.Received())
        return context.Interrupted(what, signalNumber);
    const SupplyOutcome outcome = (context.Session().*block.write)(record);
    if (const int signalNumber = guard.Received())
        return context.Interrupted(what, signalNumber, outcome);
    if (outcome != SupplyOutcome::Done)
        return context.FailSupply(what, outcome);
    return context.PrintResult({{QStringLiteral("confirmed"), true}},
                        {{QLatin1String(block.command), QStringLiteral("written and read back")}});
}

template <typename Record, int Count>
int Run(CommandContext &context, const QStringList &arguments, const Block<Record, Count> &block)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QLatin1String(block.description));
    parser.addPositionalArgument(QStringLiteral("read|write"),
                                 QStringLiteral("read: from the supply; write: to the supply."));
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("JSON file: saved by read (optional), sent by write."));
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    const QStringList words = parser.positionalArguments();
    const QString action = words.value(0);
    if (action == QLatin1String("read") && words.size() <= 2)
        return Read(context, block, words.value(1));
    if (action == QLatin1String("write") && words.size() == 2)
        return Write(context, block, words.at(1));
    return context.Fail(ExitStatus::Usage, QStringLiteral("usage: %1 read [FILE] | %1 write FILE")
                                               .arg(QLatin1String(block.command)));
}

}  // namespace

int RunCalibration(CommandContext &context, const QStringList &arguments)
{
    static const Block<CalibrationRecord, CalibrationFieldCount> block{
        "calibration",
        "Reads or writes the calibration coefficients (raw values, as the supply keeps them). "
        "A file holds one JSON member per field; a write is checked completely before anything "
        "is sent and is read back afterwards.",
        CalibrationFields, CalibrationToJson, CalibrationFromFile,
        &SupplySession::ReadCalibration, &SupplySession::WriteCalibration};
    return Run(context, arguments, block);
}

int RunParams(CommandContext &context, const QStringList &arguments)
{
    static const Block<UserParamRecord, UserParamFieldCount> block{
        "params",
        "Reads or writes the user parameters (raw values). A file holds one JSON member per field; "
        "LifeCounter is the supply's own and is never written. A write is checked completely "
        "before anything is sent and is read back afterwards.",
        UserParamFields, UserParamsToJson, UserParamsFromFile,
        &SupplySession::ReadUserParams, &SupplySession::WriteUserParams};
    return Run(context, arguments, block);
}
