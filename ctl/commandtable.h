#pragma once

#include <QString>
#include <QStringList>

class CommandContext;
class QCommandLineParser;

// One command of velkaroctl. arguments holds the command's name first, then
// its own arguments, as a command line for QCommandLineParser.
struct Command {
    const char *name;
    const char *synopsis;  // its arguments, for the help
    const char *summary;
    int (*run)(CommandContext &context, const QStringList &arguments);
    // True for a command that ends cleanly on SIGINT and SIGTERM (through
    // TerminationSignals): one that runs until stopped, or one that finishes
    // a write first. The others die at once.
    bool endsOnTermination;
    // True for a command that takes a list of addresses (--address 1,2,5):
    // it does its work for each in the order given.
    bool severalAddresses = false;
};

const QList<Command> &Commands();
const Command *FindCommand(const QString &name);

// Parses a command's own arguments, answering --help. Returns -1 to go on,
// or the exit status to end with (0 after the help, 2 after a usage error).
// Under json a usage error is also told as an object on the standard output.
int ParseCommandLine(QCommandLineParser &parser, const QStringList &arguments, bool json);

// The handlers.
int RunPorts(CommandContext &context, const QStringList &arguments);
int RunStatus(CommandContext &context, const QStringList &arguments);
int RunMeasure(CommandContext &context, const QStringList &arguments);
int RunSet(CommandContext &context, const QStringList &arguments);
int RunGet(CommandContext &context, const QStringList &arguments);
int RunOn(CommandContext &context, const QStringList &arguments);
int RunOff(CommandContext &context, const QStringList &arguments);
int RunCalibration(CommandContext &context, const QStringList &arguments);
int RunParams(CommandContext &context, const QStringList &arguments);
int RunWatch(CommandContext &context, const QStringList &arguments);
int RunUnattended(CommandContext &context, const QStringList &arguments);
int RunServeScpi(CommandContext &context, const QStringList &arguments);
int RunScan(CommandContext &context, const QStringList &arguments);
int RunWho(CommandContext &context, const QStringList &arguments);
