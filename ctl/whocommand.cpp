// who: the programs of this user sharing a line, and what each does.

#include "commandcontext.h"
#include "commandtable.h"
#include "exitstatus.h"
#include "lineclient.h"
#include "portchoice.h"
#include "sharedline.h"
#include "supplyport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

namespace {

QString AddressText(const QList<int> &addresses)
{
    QStringList texts;
    for (int address : addresses)
        texts << QString::number(address);
    return texts.isEmpty() ? QStringLiteral("-") : texts.join(QLatin1Char(','));
}

QJsonObject JsonOf(const LineMember &member)
{
    QJsonArray addresses;
    for (int address : member.addresses)
        addresses.append(address);
    return {{QStringLiteral("pid"), member.pid},
            {QStringLiteral("program"), member.program},
            {QStringLiteral("addresses"), addresses},
            {QStringLiteral("role"), member.owner ? QStringLiteral("owner") : QStringLiteral("attached")},
            {QStringLiteral("doing"), member.doing}};
}

}  // namespace

int RunWho(CommandContext &context, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the programs of this user on the line: pid, program, addresses, whether it owns "
        "the port or is attached to the owner, and what it does (run and its recording's file "
        "name, watch, serve-scpi and its number of SCPI clients, window). "
        "Does not open the port. A port held by a program that does not share it is named with "
        "\"alone\"; exit status 3 when nobody holds the port, 1 when the one holding and sharing it does "
        "not answer (stopped or stuck)."));
    const int parsed = ParseCommandLine(parser, arguments, context.Options().json);
    if (parsed >= 0)
        return parsed;
    if (!parser.positionalArguments().isEmpty())
        return context.Fail(ExitStatus::Usage, QStringLiteral("who takes no arguments"));
    QString error;
    const QString path = ChoosePortPath(context.Options().port, &error);
    if (path.isEmpty())
        return context.Fail(ExitStatus::Usage, error);
    const QString device = SupplyPortDevice(path);

    LineMember me;
    me.pid = QCoreApplication::applicationPid();
    me.program = QStringLiteral("velkaroctl");
    me.doing = QStringLiteral("who");
    LineClient client;
    QList<LineMember> members;
    const bool attached = client.Attach(SharedLine::ServerName(device), me, SharedLine::AttachWaitMs);
    if (attached && client.WaitForMembers(SharedLine::AttachWaitMs)) {
        for (const LineMember &member : client.Members()) {
            if (member.pid != me.pid)
                members << member;
        }
    } else {
        const QString holder = SupplyPortHolder(device);
        if (holder.isEmpty())
            return context.Fail(ExitStatus::PortFailed, QStringLiteral("no program holds %1").arg(path));
        // Connected but told nothing: the owner serves the line but is
        // stopped or stuck, which is not holding it alone.
        if (attached)
            return context.Fail(ExitStatus::SupplyFailed,
                                QStringLiteral("%1 holds %2 and shares it, but does not answer").arg(holder, path));
        QJsonObject json{{QStringLiteral("port"), path},
                         {QStringLiteral("holder"), holder},
                         {QStringLiteral("shared"), false}};
        return context.PrintResult(json, {{QStringLiteral("port"), path},
                                          {QStringLiteral("holder"), holder + QStringLiteral(", alone (not shared)")}});
    }

    QJsonArray programs;
    QStringList lines{QStringLiteral("%1 %2 %3 %4 %5")
                          .arg(QStringLiteral("PID"), -8)
                          .arg(QStringLiteral("PROGRAM"), -11)
                          .arg(QStringLiteral("ADDRESSES"), -10)
                          .arg(QStringLiteral("ROLE"), -9)
                          .arg(QStringLiteral("DOING"))};
    for (const LineMember &member : members) {
        programs.append(JsonOf(member));
        lines << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(member.pid, -8)
                     .arg(member.program, -11)
                     .arg(AddressText(member.addresses), -10)
                     .arg(member.owner ? QStringLiteral("owner") : QStringLiteral("attached"), -9)
                     .arg(member.doing)
                     .trimmed();
    }
    return context.PrintLines({{QStringLiteral("port"), path},
                               {QStringLiteral("shared"), true},
                               {QStringLiteral("programs"), programs}},
                              lines);
}
