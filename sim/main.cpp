// virtual-supply: a power supply on a pseudo-terminal, for working with the
// control panel without hardware. Prints the terminal's path as the first line
// of the standard output and serves until SIGINT or SIGTERM.

#include "addresslist.h"
#include "standarddescriptors.h"
#include "terminationsignals.h"
#include "virtualsupply.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int UsageError = 2;

struct ParsedOptions {
    VirtualSupply::Options supply;
    QString linkPath;
    QString error;
};

bool parseProbability(const QCommandLineParser &parser, const QString &name, double *out,
                      QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0.0 || value > 1.0) {
        *error = QStringLiteral("--%1 wants a probability from 0 to 1, not \"%2\"")
                     .arg(name, parser.value(name));
        return false;
    }
    *out = value;
    return true;
}

ParsedOptions parse(QCommandLineParser &parser, const QCoreApplication &app)
{
    parser.setApplicationDescription(QStringLiteral(
        "A programmable power supply on a pseudo-terminal. The terminal's path (/dev/pts/N) is the "
        "first line of the standard output; open it as the serial port at 9600 baud, 8N1. "
        "Serves until SIGINT or SIGTERM. Exit status: 0 after either signal, 1 when the terminal or "
        "its link cannot be made, 2 for a usage error."));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("address"),
         QStringLiteral("Slave address to answer, 0 to 255 (default 0); a list (1,2,5 or 1-4) "
                        "serves one independent supply per address on the same terminal."),
         QStringLiteral("LIST"), QStringLiteral("0")},
        {QStringLiteral("link"), QStringLiteral("Also reach the terminal through a symbolic link at PATH, "
                                                "removed on exit."),
         QStringLiteral("PATH")},
        {QStringLiteral("load"), QStringLiteral("Resistive load in ohms; 0 or less is an open circuit "
                                                "(default 10). N=OHMS for address N alone; "
                                                "repeatable."),
         QStringLiteral("OHMS")},
        {QStringLiteral("silent-address"),
         QStringLiteral("A supply at address N that receives but never answers; repeatable."),
         QStringLiteral("N")},
        {QStringLiteral("pace"), QStringLiteral("Send replies at the speed of a 9600-baud line.")},
        {QStringLiteral("seed"), QStringLiteral("Seed for the faults and the measurement noise (default 1)."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("drop"), QStringLiteral("Probability that a reply is not sent."), QStringLiteral("P")},
        {QStringLiteral("corrupt"), QStringLiteral("Probability that a reply's CRC is damaged."),
         QStringLiteral("P")},
        {QStringLiteral("split"), QStringLiteral("Probability that a reply comes in 2 to 4 pieces."),
         QStringLiteral("P")},
        {QStringLiteral("noise"), QStringLiteral("Probability of junk characters before a reply."),
         QStringLiteral("P")},
        {QStringLiteral("late"), QStringLiteral("Probability that a reply comes 210 to 240 ms late."),
         QStringLiteral("P")},
        {QStringLiteral("silent"), QStringLiteral("Receive requests but never answer.")},
        {QStringLiteral("traceable"), QStringLiteral("Fill read replies with serial-numbered, checkable data "
                                                     "instead of the model's values.")},
    });
    ParsedOptions parsed;
    // parse() rather than process(): every usage error leaves with the same
    // status, not the parser's own.
    if (!parser.parse(app.arguments())) {
        parsed.error = parser.errorText();
        return parsed;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty()) {
        parsed.error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return parsed;
    }

    VirtualSupply::Options &o = parsed.supply;
    bool ok = false;
    QList<quint8> addresses;
    QString why;
    if (!ParseAddressList(parser.value(QStringLiteral("address")), &addresses, &why)) {
        parsed.error = QStringLiteral("--address wants 0 to 255 or a list: %1").arg(why);
        return parsed;
    }
    o.address = addresses.takeFirst();
    o.moreAddresses = addresses;
    for (const QString &value : parser.values(QStringLiteral("silent-address"))) {
        QList<quint8> silent;
        if (!ParseAddressList(value, &silent, &why) || silent.size() != 1) {
            parsed.error = QStringLiteral("--silent-address wants 0 to 255, not \"%1\"").arg(value);
            return parsed;
        }
        o.silentAddresses.insert(silent.first());
        if (silent.first() != o.address && !o.moreAddresses.contains(silent.first()))
            o.moreAddresses.append(silent.first());
    }
    for (const QString &value : parser.values(QStringLiteral("load"))) {
        const int equals = value.indexOf('=');
        const double ohms = value.mid(equals + 1).toDouble(&ok);
        if (!ok) {
            parsed.error = QStringLiteral("--load wants a number of ohms or N=OHMS, not \"%1\"").arg(value);
            return parsed;
        }
        if (equals < 0) {
            o.loadOhms = ohms;
            continue;
        }
        QList<quint8> one;
        if (!ParseAddressList(value.left(equals), &one, &why) || one.size() != 1) {
            parsed.error = QStringLiteral("--load N=OHMS wants an address 0 to 255, not \"%1\"").arg(value);
            return parsed;
        }
        if (one.first() != o.address && !o.moreAddresses.contains(one.first())) {
            parsed.error = QStringLiteral("--load %1: address %2 is not served").arg(value).arg(one.first());
            return parsed;
        }
        o.loadByAddress.insert(one.first(), ohms);
    }
    o.seed = parser.value(QStringLiteral("seed")).toUInt(&ok);
    if (!ok) {
        parsed.error = QStringLiteral("--seed wants a non-negative 32-bit number");
        return parsed;
    }
    o.pace9600 = parser.isSet(QStringLiteral("pace"));
    o.silent = parser.isSet(QStringLiteral("silent"));
    o.traceable = parser.isSet(QStringLiteral("traceable"));
    const bool probabilitiesOk =
        parseProbability(parser, QStringLiteral("drop"), &o.drop, &parsed.error)
        && parseProbability(parser, QStringLiteral("corrupt"), &o.corrupt, &parsed.error)
        && parseProbability(parser, QStringLiteral("split"), &o.split, &parsed.error)
        && parseProbability(parser, QStringLiteral("noise"), &o.noise, &parsed.error)
        && parseProbability(parser, QStringLiteral("late"), &o.late, &parsed.error);
    if (!probabilitiesOk)
        return parsed;
    parsed.linkPath = parser.value(QStringLiteral("link"));
    return parsed;
}

}  // namespace

int main(int argc, char **argv)
{
    OpenStandardDescriptors();
    // Before anything can start a thread, so that every thread leaves the
    // two signals to the signalfd.
    TerminationSignals::block();

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("virtual-supply"));

    QCommandLineParser parser;
    const ParsedOptions parsed = parse(parser, app);
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "virtual-supply: %s (--help lists the options)\n",
                     qPrintable(parsed.error));
        return UsageError;
    }

    TerminationSignals termination;
    if (!termination.isValid()) {
        std::fprintf(stderr, "virtual-supply: cannot watch for termination signals\n");
        return 1;
    }
    QObject::connect(&termination, &TerminationSignals::received, &app, &QCoreApplication::quit);

    VirtualSupply supply(parsed.supply);
    QString error;
    if (!supply.open(&error)) {
        std::fprintf(stderr, "virtual-supply: %s\n", qPrintable(error));
        return 1;
    }
    if (!parsed.linkPath.isEmpty() && !supply.makeLink(parsed.linkPath, &error)) {
        std::fprintf(stderr, "virtual-supply: %s\n", qPrintable(error));
        return 1;
    }

    std::printf("%s\n", qPrintable(supply.portPath()));
    std::fflush(stdout);
    const QList<quint8> served = supply.addresses();
    if (served.size() == 1) {
        std::fprintf(stderr, "virtual-supply: serving at address %d\n", int(parsed.supply.address));
    } else {
        QStringList names;
        for (const quint8 address : served)
            names << QString::number(address);
        std::fprintf(stderr, "virtual-supply: serving at addresses %s\n", qPrintable(names.join(", ")));
    }

    return app.exec();
}
