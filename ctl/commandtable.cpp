#include "commandtable.h"

#include "commandcontext.h"
#include "exitstatus.h"

#include <QCommandLineParser>

const QList<Command> &Commands()
{
    static const QList<Command> table = {
        {"ports", "", "serial ports found (name, description, serial number)", RunPorts, false},
        {"status", "", "output voltage and current, CV/CC, output on/off", RunStatus, false, true},
        {"measure", "", "the internal measurements", RunMeasure, false, true},
        {"set", "[--voltage V] [--current A]",
         "set-points (a value not given keeps the supply's present one)", RunSet, true, true},
        {"get", "[voltage|current|output]...",
         "set-points and output state as the supply holds them, one bare value per line", RunGet,
         false, true},
        {"on", "", "switch the output on", RunOn, true, true},
        {"off", "", "switch the output off", RunOff, true, true},
        {"calibration", "read [FILE] | write FILE", "the calibration coefficients", RunCalibration,
         true},
        {"params", "read [FILE] | write FILE", "the user parameters", RunParams, true},
        {"watch",
         "[--interval S] [--count N] [--duration S] [--measure] [--format csv|jsonl] "
         "[--output FILE] [--max-failures N]",
         "record status (and measurements) at a steady interval", RunWatch, true, true},
        {"scan", "[--range A-B]",
         "the addresses on the line that answer, with their set-points and output", RunScan, false},
        {"who", "", "the programs sharing the line: pid, program, addresses, what each does", RunWho,
         false},
        {"run",
         "[PROGRAM.csv] --record FILE [--append] [--interval S] [--duration S] [--repeat N] [--limit COND]... "
         "[--keep-output] [--reconnect]",
         "follow a program of steps with limits, counters and a recording", RunUnattended, true},
        {"serve-scpi", "[--listen HOST:PORT]",
         "answer SCPI clients over TCP (default 127.0.0.1:5025), one port per address",
         RunServeScpi, true, true},
    };
    return table;
}

const Command *FindCommand(const QString &name)
{
    for (const Command &command : Commands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

int ParseCommandLine(QCommandLineParser &parser, const QStringList &arguments, bool json)
{
    const QCommandLineOption help = parser.addHelpOption();
    const Command *command = FindCommand(arguments.value(0));
    if (!parser.parse(arguments)) {
        WriteErr(QStringLiteral("velkaroctl %1: %2\nTry 'velkaroctl %1 --help'.\n")
                     .arg(arguments.value(0), parser.errorText()));
        return FailJson(json, ExitStatus::Usage,
                        QStringLiteral("%1: %2").arg(arguments.value(0), parser.errorText()));
    }
    if (parser.isSet(help)) {
        // The parser names the program by its path; name the command instead.
        QString text = parser.helpText();
        text.replace(0, text.indexOf('\n'),
                     QStringLiteral("Usage: velkaroctl [global options] %1 %2")
                         .arg(arguments.value(0), command ? QLatin1String(command->synopsis)
                                                          : QLatin1String()));
        if (!WriteOut(text)) {
            WriteErr(QStringLiteral("velkaroctl: %1\n").arg(OutputFailure()));
            return ExitStatus::Usage;
        }
        return ExitStatus::Success;
    }
    return -1;
}
