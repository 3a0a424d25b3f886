// velkaroctl: the power supply from scripts and the shell. Global options come
// before the command; each command parses its own arguments.

#include "commandcontext.h"
#include "commandtable.h"
#include "consoleoutput.h"
#include "exitstatus.h"
#include "terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>

namespace {

QString CommandList()
{
    int width = 0;
    for (const Command &command : Commands())
        width = std::max(width, int(qstrlen(command.name)));
    QString text = QStringLiteral("\nCommands (velkaroctl COMMAND --help for each):\n");
    for (const Command &command : Commands()) {
        text += QStringLiteral("  %1  %2\n")
                    .arg(QString::fromLatin1(command.name).leftJustified(width),
                         QLatin1String(command.summary));
    }
    return text;
}

}  // namespace

int main(int argc, char **argv)
{
    // Before anything can start a thread; commands that do not end in order
    // on a signal give it back at once.
    TerminationSignals::block();
    PrepareConsoleOutput();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velkaroctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELKARO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Controls the programmable power supply on a serial port from scripts and the shell.\n"
        "Exit status: 0 success; 1 the supply did not answer, refused or did not confirm;\n"
        "2 usage or input error; 3 the port could not be opened."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Serial port (default: $VELKARO_PORT, else the only port found)."),
        QStringLiteral("PATH"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"), QStringLiteral("The supply's slave address, 0 to 255 (default 0)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print one JSON object per command."));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"), QStringLiteral("Trace the protocol on the standard error."));
    parser.addOptions({portOption, addressOption, jsonOption, traceOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do (below)."),
                                 QStringLiteral("COMMAND [ARGS]"));

    if (!parser.parse(app.arguments())) {
        WriteErr(QStringLiteral("velkaroctl: %1\nTry 'velkaroctl --help'.\n").arg(parser.errorText()));
        return ExitStatus::Usage;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(0, text.indexOf('\n'), QStringLiteral("Usage: velkaroctl [options] COMMAND [ARGS]"));
        WriteOut(text + CommandList());
        return ExitStatus::Success;
    }
    if (parser.isSet(version)) {
        WriteOut(QStringLiteral("velkaroctl %1\n").arg(QCoreApplication::applicationVersion()));
        return ExitStatus::Success;
    }

    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty()) {
        WriteErr(QStringLiteral("velkaroctl: no command given\nTry 'velkaroctl --help'.\n"));
        return ExitStatus::Usage;
    }
    const Command *command = FindCommand(arguments.first());
    if (!command) {
        WriteErr(QStringLiteral("velkaroctl: unknown command \"%1\"\nTry 'velkaroctl --help'.\n")
                     .arg(arguments.first()));
        return ExitStatus::Usage;
    }

    GlobalOptions options;
    options.port = parser.value(portOption);
    bool ok = false;
    const uint address = parser.value(addressOption).toUInt(&ok);
    if (!ok || address > 255) {
        WriteErr(QStringLiteral("velkaroctl: --address wants 0 to 255, not \"%1\"\n")
                     .arg(parser.value(addressOption)));
        return ExitStatus::Usage;
    }
    options.address = quint8(address);
    options.json = parser.isSet(jsonOption);
    options.trace = parser.isSet(traceOption);

    if (!command->endsOnTermination)
        TerminationSignals::unblock();
    CommandContext context(options);
    return command->run(context, arguments);
}
