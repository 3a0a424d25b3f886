#pragma once

// velkaroctl started as a separate process; the including test defines
// VELKAROCTL_EXE.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <utility>

// The environment without a port chosen by the user's own shell.
inline QProcessEnvironment CtlEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("VELKARO_PORT"));
    return environment;
}

inline void StartCtl(QProcess &process, const QStringList &arguments,
                     const QProcessEnvironment &environment = CtlEnvironment())
{
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VELKAROCTL_EXE), arguments);
}

// Waits for process to end while this process's event loop keeps running
// (an in-process supply or server goes on serving): its exit status, or -1
// when it did not start, did not end in time or did not end normally.
inline int Finish(QProcess &process, int timeoutMs = 20000)
{
    if (process.error() == QProcess::FailedToStart
        || !QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)
        || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

// Runs velkaroctl to its end: its exit status as Finish gives it.
inline int RunCtl(QProcess &process, const QStringList &arguments, int timeoutMs = 20000)
{
    StartCtl(process, arguments);
    return Finish(process, timeoutMs);
}

// What a velkaroctl that ran to its end left.
struct CtlRun {
    int status = -1;  // -1: did not end normally
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    // The exit status and the standard output, compared at once.
    std::pair<int, QByteArray> result() const { return {status, out}; }
    // The exit status and what was said, for a failed check's message.
    QByteArray told() const { return "exit " + QByteArray::number(status) + ": " + err; }
};

// Runs velkaroctl to its end while this process's event loop keeps serving an
// in-process supply (or line).
inline CtlRun Ctl(const QStringList &arguments, const QProcessEnvironment &environment = CtlEnvironment(),
                  const QString &outputFile = QString())
{
    QProcess process;
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(outputFile);
    StartCtl(process, arguments, environment);
    CtlRun run;
    run.status = Finish(process, 30000);
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
