#pragma once

// velkaroctl started as a separate process; the including test defines
// VELKAROCTL_EXE.

#include <QProcess>
#include <QtTest>

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
