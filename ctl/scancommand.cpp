// scan: which addresses on the line answer, with their set-points and output.

#include "addresslist.h"
#include "addressprobe.h"
#include "commandcontext.h"
#include "commandtable.h"
#include "devicelinktransport.h"
#include "exitstatus.h"
#include "readingformat.h"
#include "terminal.h"
#include "units.h"

#include <QCommandLineParser>
#include <QJsonArray>

int RunScan(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Asks every address of a range for its status, once each, and lists the supplies that "
        "answer with their set-points and output. Every address that does not answer costs its "
        "time-out and a quiet line after it: about a quarter of a second, so 0-255 takes about "
        "a minute on a line with few supplies. A progress line is drawn on a terminal. Exit "
        "status 1 when no supply answers. --address is not used."));
    parser.addOption({QStringLiteral("range"),
                      QStringLiteral("Addresses to ask, A-B or one address (default 0-255)."),
                      QStringLiteral("A-B"), QStringLiteral("0-255")});
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    if (!parser.positionalArguments().isEmpty())
        return context.Fail(ExitStatus::Usage, QStringLiteral("scan takes --range only"));
    quint8 first = 0;
    quint8 last = 0;
    QString why;
    if (!ParseAddressRange(parser.value(QStringLiteral("range")), &first, &last, &why))
        return context.Fail(ExitStatus::Usage, QStringLiteral("--range: %1").arg(why));

    if (const int status = context.Connect())
        return status;
    // Each reply must name the address and the command asked: a late reply
    // from one supply must not make another address look alive.
    DeviceLinkTransport line(context.Session().Link());
    const bool progress = StandardErrorIsTerminal();
    const int total = last - first + 1;
    QList<ProbedSupply> found;
    for (int address = first; address <= last && context.PortLoss().isEmpty(); ++address) {
        if (progress) {
            WriteErr(QStringLiteral("\rscanning address %1 (%2 of %3), %4 found\x1b[K")
                         .arg(address)
                         .arg(address - first + 1)
                         .arg(total)
                         .arg(found.size()));
        }
        if (const std::optional<ProbedSupply> supply = ProbeAddress(line, quint8(address)))
            found << *supply;
    }
    if (progress)
        WriteErr(QStringLiteral("\r\x1b[K"));
    if (!context.PortLoss().isEmpty())
        return context.Fail(ExitStatus::SupplyFailed,
                            QStringLiteral("scan: the port failed: %1").arg(context.PortLoss()));

    const QString range = QStringLiteral("%1-%2").arg(first).arg(last);
    QJsonArray list;
    OutputRows rows;
    for (const ProbedSupply &supply : found) {
        const QString output = supply.status.OutputOn != 0 ? QStringLiteral("on") : QStringLiteral("off");
        QJsonObject json{{QStringLiteral("address"), int(supply.address)},
                         {QStringLiteral("output"), supply.status.OutputOn != 0}};
        QString setText = QStringLiteral("set-points unknown (no answer)");
        if (supply.setpoints) {
            const QJsonObject setpointJson = SetpointJson(*supply.setpoints);
            json.insert(QStringLiteral("voltageSet"), setpointJson[QStringLiteral("voltageSet")]);
            json.insert(QStringLiteral("currentSet"), setpointJson[QStringLiteral("currentSet")]);
            setText = QStringLiteral("%1 V  %2 A")
                          .arg(DecimalText(SetpointVolts(*supply.setpoints), 3),
                               DecimalText(SetpointAmperes(*supply.setpoints), 3));
        } else {
            json.insert(QStringLiteral("voltageSet"), QJsonValue());
            json.insert(QStringLiteral("currentSet"), QJsonValue());
        }
        list.append(json);
        rows.append({QStringLiteral("address %1").arg(supply.address),
                     QStringLiteral("%1  output %2").arg(setText, output)});
    }
    if (found.isEmpty())
        return context.Fail(ExitStatus::SupplyFailed,
                            QStringLiteral("scan: no supply answered at addresses %1 (port %2)")
                                .arg(range, context.PortPath()));
    return context.PrintResult({{QStringLiteral("range"), range}, {QStringLiteral("supplies"), list}},
                               rows);
}
