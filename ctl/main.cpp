// velkaroctl: the power supply from scripts and the shell. Global options come
// before the command; each command parses its own arguments.

#include "addresslist.h"
#include "commandcontext.h"
#include "commandtable.h"
#include "consoleoutput.h"
#include "decimalinput.h"
#include "exitstatus.h"
#include "standarddescriptors.h"
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
    OpenStandardDescriptors();
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
        "A port that another velkaroctl or the window holds is shared: the command works through\n"
        "that program (see who; --exclusive holds a port alone).\n"
        "Exit status: 0 success; 1 the supply did not answer, refused or did not confirm;\n"
        "2 usage, input or output error; 3 the port could not be opened or is busy;\n"
        "4 run: a limit held and the output was switched off;\n"
        "128 + the signal's number on SIGINT, SIGTERM, SIGHUP or SIGQUIT (130, 143, 129, 131;\n"
        "a write under way is finished first); watch and serve-scpi, which end that way, 0."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Serial port (default: $VELKARO_PORT, else the only port found)."),
        QStringLiteral("PATH"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"), QStringLiteral("The supply's slave address, 0 to 255 (default 0). status, get, measure, set, "
                       "on, off, watch and serve-scpi take a list (1,2,5 or 1-4): several supplies on one line."),
        QStringLiteral("N|LIST"), QStringLiteral("0"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Print one JSON object per command (one per address for several)."));
    const QCommandLineOption traceOption(
        QStringLiteral("trace"), QStringLiteral("One line per frame sent (>) and received (<) on the standard error, "
                       "time-stamped in seconds on a monotonic clock."));
    const QCommandLineOption waitOption(
        QStringLiteral("wait"),
        QStringLiteral("Wait up to S seconds for a port that another program holds (default 0)."),
        QStringLiteral("S"), QStringLiteral("0"));
    const QCommandLineOption exclusiveOption(
        QStringLiteral("exclusive"),
        QStringLiteral("Hold the port alone: neither share it with this user's other programs nor attach "
                       "to the one holding it (calibration work): a port another program holds is then busy, "
                       "and the others find this one's busy. Without it, a port held by another "
                       "velkaroctl or the window is shared: the command works through that program."));
    parser.addOptions({portOption, addressOption, jsonOption, traceOption, waitOption, exclusiveOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do (below)."),
                                 QStringLiteral("COMMAND [ARGS]"));

    // --json promises an object on every failure, usage errors included; a
    // command line that does not parse may still have asked for it.
    const bool json = parser.parse(app.arguments()) ? parser.isSet(jsonOption)
                                                    : app.arguments().contains(QStringLiteral("--json"));
    auto usage = [json](const QString &message) {
        WriteErr(QStringLiteral("velkaroctl: %1\nTry 'velkaroctl --help'.\n").arg(message));
        return FailJson(json, ExitStatus::Usage, message);
    };
    if (!parser.errorText().isEmpty())
        return usage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(version)) {
        QString text = parser.helpText();
        text.replace(0, text.indexOf('\n'), QStringLiteral("Usage: velkaroctl [options] COMMAND [ARGS]"));
        if (parser.isSet(version))
            text = QStringLiteral("velkaroctl %1\n").arg(QCoreApplication::applicationVersion());
        else
            text += CommandList();
        if (!WriteOut(text)) {
            WriteErr(QStringLiteral("velkaroctl: %1\n").arg(OutputFailure()));
            return ExitStatus::Usage;
        }
        return ExitStatus::Success;
    }

    const QStringList arguments = parser.positionalArguments();
    if (arguments.isEmpty())
        return usage(QStringLiteral("no command given"));
    const Command *command = FindCommand(arguments.first());
    if (!command)
        return usage(QStringLiteral("unknown command \"%1\"").arg(arguments.first()));

    GlobalOptions options;
    options.port = parser.value(portOption);
    // An empty name (an unset variable in a script) must not fall back to
    // another port: that would be another supply.
    if (parser.isSet(portOption) && options.port.isEmpty())
        return usage(QStringLiteral("--port is empty"));
    QString why;
    if (!ParseAddressList(parser.value(addressOption), &options.addresses, &why))
        return usage(QStringLiteral("--address wants 0 to 255 or a list, not \"%1\": %2")
                         .arg(parser.value(addressOption), why));
    if (options.addresses.size() > 1 && !command->severalAddresses)
        return usage(QStringLiteral("%1 takes one address, not \"%2\"")
                         .arg(arguments.first(), parser.value(addressOption)));
    options.address = options.addresses.first();
    double waitSeconds = 0;
    if (!ParseDecimal(parser.value(waitOption), &waitSeconds) || waitSeconds < 0 || waitSeconds > 86400)
        return usage(QStringLiteral("--wait wants seconds, 0 to 86400, not \"%1\"").arg(parser.value(waitOption)));
    options.waitMs = qint64(waitSeconds * 1000.0 + 0.5);
    options.json = parser.isSet(jsonOption);
    options.trace = parser.isSet(traceOption);
    options.exclusive = parser.isSet(exclusiveOption);
    options.command = arguments.first();

    if (!command->endsOnTermination)
        TerminationSignals::unblock();
    CommandContext context(options);
    return command->run(context, arguments);
}
